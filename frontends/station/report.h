// The station's reports, for people and programs that come after it: a JSON document and a JUnit XML
// file, one entry (one test case) per board job.
//
// JSON (nlohmann-json writes it; texts from a board that aren't valid UTF-8 get U+FFFD):
//   {"station": {"version", "job", "started", "seconds", "cpu_seconds", "passed", "failed", "not_started"},
//    "boards": [{"index", "port", "name", "by_id", "serial", "vid_pid", "identity", "job", "start",
//                "duration", "bytes", "exit_code", "error", "log", "result"}, ...]}
// where a field that is unknown (by_id, serial, vid_pid, identity, log; start, duration and exit_code
// of a board never started) is null, and result is "passed", "failed" or "not started".
//
// JUnit: one <testsuite name="vexal-station"> with a <testcase> per board, named after the board and
// its port; a failed board holds a <failure> with the exit code and error line, a board never started
// a <skipped>; the log file's path goes in <system-out>.
//
// Both files are written to FILE.tmp and renamed, so a dashboard reading them never sees half a report.
#pragma once

#include <string>
#include <vector>

#include "frontends/station/board.h"

namespace vx::station {

struct RunSummary {
  std::string version;
  std::vector<std::string> job;  // the job's arguments as given, placeholders unreplaced
  std::string started_utc;
  double seconds = 0;
  double cpu_seconds = 0;  // the station's own processor time, its jobs' not counted
};

std::string json_report(const RunSummary& run, const std::vector<const Board*>& boards);
std::string junit_report(const RunSummary& run, const std::vector<const Board*>& boards);

// Text escaped for XML content and attribute values; characters XML 1.0 can't hold become U+FFFD.
std::string xml_escaped(const std::string& text);

// Writes `text` to `path` through `path`.tmp; false with the reason.
bool write_file_atomically(const std::string& path, const std::string& text, std::string& why);

}  // namespace vx::station
