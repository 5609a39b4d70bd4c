// A product's production file and the unit values it declares.
//
// The production file (TOML, read with toml++) holds the station's options for one product, so that the
// operator runs `vexal-station --production line3.toml` and nothing else. Its keys are the long options
// without their dashes and take what the option takes: a string or a number for an option with a value,
// true for a flag, an array for a repeatable option (ports, match); `job` is the array of vexal's
// arguments. For example:
//
//   station = "line 3"
//   operator = "night shift"
//   all = true
//   match = ["usb-FTDI_*"]
//   jobs = 16
//   serial = "1000-9999"
//   mac = "02:00:5E:10:00:00-02:00:5E:10:FF:FF"
//   key = "keys.csv:key"
//   layout = "0FF000: serial u32be, mac 6 bytes, key 16 bytes"
//   job = ["b115200", "@load<fw.elf", "@binput0FF000<{unit.bin}", "@verify0FF000<{unit.bin}"]
//
// The file's options come first and the command line's after them, so an option given on the command
// line wins (a repeatable one adds to the file's), and a job after "--" replaces the file's. The files
// the options name (key, db, logs, report, junit) are found from the production file's folder; the
// database is by default beside it, named after it (line3.toml: line3.db). The job's own files are
// vexal's and found from the current folder, as on the command line.
#pragma once

#include <string>
#include <vector>

#include "frontends/station/model/units.h"
#include "frontends/station/options.h"

namespace vx::station {

// The arguments with "--production FILE" replaced by the file's options as described above; false with
// the reason (the file can't be read, isn't TOML, holds an unknown key or a value of the wrong kind).
bool expand_production(const std::vector<std::string>& args, std::vector<std::string>& out, std::string& why);

// What the units of a run need: the pools declared, the layout, and where the database is.
struct UnitSetup {
  std::vector<PoolSpec> pools;
  Layout layout;
  std::string db;         // "" when the run keeps no database (no pool, no --db)
  std::string units_dir;  // where the boards' {unit.bin} files go
};

// Reads the pools' declarations (and the list's CSV file) from the options and checks them, their
// layout and the job's unit placeholders; false with the reason.
bool load_unit_setup(const Options& options, UnitSetup& out, std::string& why);

}  // namespace vx::station
