// The station's command line:
//
//   vexal-station (--ports DEV,DEV,... | --ports-file FILE | --all | --watch) [--match PATTERN] [--jobs N] [--identify]
//                 [--logs DIR] [--report FILE.json] [--junit FILE.xml] [--station NAME] [--operator NAME]
//                 [--vexal PATH] [--window] [--serial FIRST[-LAST]] [--mac FROM-TO] [--key FILE.csv[:COLUMN]]
//                 [--layout FIELDS] [--db FILE|postgresql://...] [--limit N] -- VEXAL-ARGUMENTS...
//   vexal-station --production FILE.toml [options]     (production.h)
//   vexal-station history [--db ...] [filters] [--csv]  (history.h)
//
// Options take their value as the next argument or after '='. Everything after "--" is the job, given
// to each board's vexal after "--port DEV" (none: vexal asks the board for its identity). The checks
// that keep a bench safe are made here, before anything runs: exactly one way to pick ports, --watch
// only with --match, --match only with --all or --watch, no unknown {placeholder} in the job, and no
// job that can't mean what it says (job.h).
#pragma once

#include <string>
#include <vector>

namespace vx::station {

constexpr int kUsageStatus = 2;

struct Options {
  std::vector<std::string> ports;       // --ports and --ports-file, in order
  std::vector<std::string> port_names;  // beside each of ports: the name its ports file gave, or ""
  bool all = false;
  bool watch = false;
  std::vector<std::string> match;  // --match values, each a glob or a VID:PID list
  unsigned jobs = 0;               // --jobs; 0: every board at once
  std::string logs_dir;
  std::string report_file;
  std::string junit_file;
  std::string vexal;          // --vexal; "" finds it beside the station, then on PATH
  std::string station;        // --station: the bench's name, for the reports
  std::string operator_name;  // --operator
  bool identify = false;      // --identify: the identity query first in every job
  bool window = false;        // --window: the boards as tiles in a window (the log still on standard output)
  std::string serial;         // --serial: the counter pool (units.h)
  std::string mac;            // --mac: the address range
  std::string key;            // --key: the list's CSV file, ":COLUMN" after it
  std::string layout;         // --layout: the {unit.bin} file's fields
  std::string db;             // --db: a SQLite file or a postgresql:// URL (store.h)
  unsigned limit = 0;         // --limit: no board starts once this many passed; 0: no limit
  std::vector<std::string> job;
  bool help = false;
  bool version = false;
};

// False with the reason when the arguments (without the program name) are not a station run.
bool parse_options(const std::vector<std::string>& args, Options& out, std::string& why);

std::string usage_text();

// True when `name` (without its dashes) is one of the options above; `takes_value` then says whether
// it takes a value (else it is a flag).
bool is_option(const std::string& name, bool* takes_value = nullptr);

}  // namespace vx::station
