// The station's reports, for people and programs that come after it: a JSON document and a JUnit XML
// file, one entry (one test case) per board job. Both say only what is known when they are written:
// they are rewritten while the boards run.
//
// JSON (nlohmann-json writes it; texts from a board that aren't valid UTF-8 get U+FFFD):
//   {"station": {"version", "host", "station", "operator", "job", "identify", "started", "ended",
//                "seconds", "cpu_seconds", "database_seconds", "passed", "failed", "not_started", "running",
//                "waiting"},
//    "boards": [{"index", "port", "name", "by_id", "serial", "vid_pid", "identity", "vexal_version", "job",
//                "files": [{"role", "path", "size", "sha256"}], "start", "end", "duration", "bytes",
//                "written", "read", "text_retries", "block_retries", "exit_code", "error", "reason", "log",
//                "attempt", "units": {"serial", "mac", "key"}, "unit_file", "result"}, ...]}
// where a field that is unknown is null: database_seconds of a run that keeps no database; by_id, serial, vid_pid,
// identity, log, station and operator when not given; attempt, units and unit_file when the run keeps no unit values;
// vexal_version, written, read and the retries when vexal didn't say; start of a board not yet started; end, duration,
// exit_code, error and reason of a board that hasn't ended. result is board_result's: "waiting", "running", "passed",
// "failed" or "not started".
//
// JUnit: one <testsuite name="vexal-station"> with the run's properties and a <testcase> per board,
// named after the board and its port; a failed board holds a <failure> with the exit code, error line
// and reason, a board that hasn't ended (or never started) a <skipped> that says which; <system-out>
// holds the identity, the unit values, the attempt's record number, vexal's version, the files with their SHA-256 and
// the log file's path.
//
// Both files are written to a fresh temporary file in the target's folder (made with O_EXCL, so
// nothing planted there is followed) and renamed over the target, so a reader never sees half a
// report; a target that exists and is not a regular file (a symbolic link, a FIFO, a device, a folder)
// is never written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "frontends/station/model/board.h"

namespace vx::station {

struct RunSummary {
  std::string version;
  std::string host;
  std::string station;           // --station, "" when not given
  std::string operator_name;     // --operator, "" when not given
  std::vector<std::string> job;  // the job's arguments as given, placeholders unreplaced
  bool identify = false;         // --identify: I000000 runs first in every job
  std::string started_utc;
  std::string ended_utc;  // "" while the station runs
  double seconds = 0;
  double cpu_seconds = 0;                  // the station's own processor time, its jobs' not counted
  std::optional<double> database_seconds;  // the time spent taking unit values and recording attempts
};

std::string json_report(const RunSummary& run, const std::vector<const Board*>& boards);
std::string junit_report(const RunSummary& run, const std::vector<const Board*>& boards);

// Text escaped for XML content and attribute values; characters XML 1.0 can't hold become U+FFFD.
std::string xml_escaped(const std::string& text);

// "" when a report may be written at `path`: its folder can be written and `path` is missing or a
// regular file; else why not.
std::string report_target_problem(const std::string& path);

// Writes `text` to `path` as described above; false with the reason.
bool write_file_atomically(const std::string& path, const std::string& text, std::string& why);

}  // namespace vx::station
