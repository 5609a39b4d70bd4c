#include "frontends/station/options.h"

#include "cli/option_table.h"
#include "frontends/station/model/job.h"
#include "frontends/station/model/placeholders.h"
#include "frontends/station/os/port_file.h"
#include "frontends/station/os/ports.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

using Setter = cli::Setter<Options>;
using cli::flag;

std::string add_ports(Options& o, const std::string& value) {
  for (const std::string& port : split(value, ',')) {
    if (port.empty()) return "--ports needs device paths separated by commas";
    o.ports.push_back(port);
    o.port_names.emplace_back();
  }
  return {};
}

std::string add_ports_file(Options& o, const std::string& path) {
  std::vector<NamedPort> listed;
  std::string why;
  if (!read_ports_file(path, listed, why)) return why;
  for (const NamedPort& port : listed) {
    o.ports.push_back(port.device);
    o.port_names.push_back(port.name);
  }
  return {};
}

std::string add_match(Options& o, const std::string& value) {
  PortMatcher check;
  std::string why;
  if (!check.add(value, why)) return why;
  o.match.push_back(value);
  return {};
}

std::string set_jobs(Options& o, const std::string& value) {
  if (!cli::parse_number(value, o.jobs) || o.jobs == 0) return "--jobs needs a number of boards, 1 or more";
  return {};
}

std::string set_limit(Options& o, const std::string& value) {
  if (!cli::parse_number(value, o.limit) || o.limit == 0) return "--limit needs a number of boards, 1 or more";
  return {};
}

Setter text_setter(std::string Options::*field, const char* name) {
  return [field, name](Options& o, const std::string& value) {
    if (value.empty()) return std::string(name) + " needs a value";
    o.*field = value;
    return std::string();
  };
}

const cli::OptionTable<Options>& definitions() {
  static const cli::OptionTable<Options> kDefs{
      {"--ports", {true, add_ports}},
      {"--ports-file", {true, add_ports_file}},
      {"--all", {false, flag(&Options::all)}},
      {"--watch", {false, flag(&Options::watch)}},
      {"--match", {true, add_match}},
      {"--jobs", {true, set_jobs}},
      {"--logs", {true, text_setter(&Options::logs_dir, "--logs")}},
      {"--report", {true, text_setter(&Options::report_file, "--report")}},
      {"--junit", {true, text_setter(&Options::junit_file, "--junit")}},
      {"--vexal", {true, text_setter(&Options::vexal, "--vexal")}},
      {"--station", {true, text_setter(&Options::station, "--station")}},
      {"--operator", {true, text_setter(&Options::operator_name, "--operator")}},
      {"--identify", {false, flag(&Options::identify)}},
      {"--window", {false, flag(&Options::window)}},
      {"--serial", {true, text_setter(&Options::serial, "--serial")}},
      {"--mac", {true, text_setter(&Options::mac, "--mac")}},
      {"--key", {true, text_setter(&Options::key, "--key")}},
      {"--layout", {true, text_setter(&Options::layout, "--layout")}},
      {"--db", {true, text_setter(&Options::db, "--db")}},
      {"--limit", {true, set_limit}},
      {"--help", {false, flag(&Options::help)}},
      {"--version", {false, flag(&Options::version)}},
  };
  return kDefs;
}

std::string combination_problem(const Options& o) {
  const int sources = (o.ports.empty() ? 0 : 1) + (o.all ? 1 : 0) + (o.watch ? 1 : 0);
  if (sources == 0) return "name the ports: --ports DEV,..., --ports-file FILE, --all or --watch";
  if (sources > 1) return "--ports (or --ports-file), --all and --watch exclude each other";
  if (o.watch && o.match.empty())
    return "--watch needs --match (a glob over the by-id name, or VID:PID,...): only boards are to be sent telegrams";
  if (!o.match.empty() && !o.all && !o.watch) return "--match goes with --all or --watch";
  std::string unknown = unknown_placeholder(o.job);
  if (!unknown.empty())
    return "unknown placeholder " + unknown +
           " in the job ({port}, {name}, {index}, {serial}, {mac}, {key}, {unit.bin} and {unit.address} are known)";
  return job_problem(o.job, o.identify);
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, Options& out, std::string& why) {
  Options o;
  std::size_t i = 0;
  for (; i < args.size() && args[i] != "--"; ++i) {
    why = cli::apply_option(definitions(), args, i, o, "--help lists them; the job goes after --");
    if (!why.empty()) return false;
  }
  if (i < args.size()) o.job.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  why = o.help || o.version ? std::string() : combination_problem(o);
  if (!why.empty()) return false;
  out = std::move(o);
  return true;
}

bool is_option(const std::string& name, bool* takes_value) {
  auto it = definitions().find("--" + name);
  if (it == definitions().end()) return false;
  if (takes_value) *takes_value = it->second.takes_value;
  return true;
}

std::string usage_text() {
  return R"(Usage: vexal-station (--ports DEV,DEV,... | --ports-file FILE | --all | --watch) [options] -- VEXAL-ARGUMENTS...
Runs the same vexal job on many boards at once, each board on its own port in its own vexal
("vexal --port DEV VEXAL-ARGUMENTS"), shows each board's state and records each board's result.

Ports:
  --ports DEV,DEV,...  these ports (repeatable); a port may be a board on another host:
                       rfc2217://HOST:PORT or tcp://HOST:PORT (as ser2net exports it)
  --ports-file FILE    the ports FILE lists, one a line: a device or URL, then optionally a name
                       for the table, the reports and {name}; '#' begins a comment (repeatable)
  --all                every port "vexal --list-ports" finds (that --match lets through)
  --watch              keep running: start the job on each matching port as it appears; a port runs
                       the job again only after it went away and came back. Needs --match.
  --match PATTERN      a glob over the /dev/serial/by-id name ('usb-FTDI_*'), or VID:PID,VID:PID,...
                       (repeatable: a port matching any is taken)
Jobs:
  --jobs N             at most N boards at once (default: all, as far as the open-file limit allows)
  --identify           ask each board for its identity first (I000000), so every record holds it
  --vexal PATH         the vexal to run (default: the one beside vexal-station, else from PATH)
  In VEXAL-ARGUMENTS {port} is the device, {name} the port's short name (its by-id name, else the
  device's name) and {index} the job's number from 1.
Unit values (each board its own, from pools that never give a value twice):
  --serial FIRST[-LAST]  a counter, decimal or 0x hexadecimal: {serial}, {serial:08}, {serial:x}
  --mac FROM-TO        addresses in order, 02:00:5E:10:00:00-02:00:5E:10:FF:FF: {mac}, {mac:x}
  --key FILE.csv[:COLUMN]  one value a row, each used once: {key}
  --layout FIELDS      the per-board file {unit.bin}: "0FF000: serial u32be, mac 6 bytes, key 16 bytes"
                       (u8, u16be/le, u32be/le, u64be/le, N bytes, text N); {unit.address} is 0FF000
  --db FILE|URL        the record of every attempt and the pools: a SQLite file (default
                       vexal-station.db when a pool is declared) or postgresql://... for a line
  --limit N            no new board starts once N boards passed
  --production FILE    the options of one product from a TOML file (the command line adds to them)
  vexal-station history [--db FILE|URL] [--serial S] [--mac M] [--port P] [--since T] [--until T]
                        [--failed] [--csv]      the attempts recorded, as text or CSV
Results:
  --logs DIR           each board's console log in DIR/NAME.log
  --report FILE.json   a JSON report, one entry per board
  --junit FILE.xml     a JUnit XML report, one test case per board
  --station NAME       the bench's name, in the reports
  --operator NAME      who runs it, in the reports
  --window             the boards as tiles in a window (PASS on green, FAIL on red); the log goes
                       to standard output. Closing the window is Ctrl-C, twice a second Ctrl-C.
Other:
  --help, --version

Exit status: 0 when every board succeeded, 1 when any failed (or none was found), 2 for a usage error.
Ctrl-C starts no more jobs and waits for the running ones; a second Ctrl-C interrupts them; a third
ends them (killed if they haven't ended 3 s later).
)";
}

}  // namespace vx::station
