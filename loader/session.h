// One run as every front-end starts it, with what lies around the loader itself:
//
//  - the device COM1 opens when the command line named one (--port), and --ignore-checksums;
//  - the event channel (VEXAL_EVENTS, console/events.h): "start" before the loader runs, the phases
//    and progress while it runs, "end" once it is over;
//  - the run's outcome: its exit code, its "Error..." line (ErrorLineWatch over the console), a
//    detail the console line lacks, the data bytes moved and the time taken.
//
// The loader itself runs through wvexal (loader/run.h) on the calling thread, after fresh_run; the
// front-end plugs in what a fresh run lacks (its progress view, its transfer views, a diagnostic sink)
// in `plug_in`, which runs on that thread right after fresh_run. Its tap sees every console character.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console/clock.h"
#include "console/console.h"
#include "loader/cli.h"

namespace vx {

struct RunOutcome {
  int code = 0;
  std::string error;   // the console's "Error..." line, "" on success
  std::string detail;  // more than the line says, or ""
  std::int64_t bytes = 0;
  Micros run_time{0};

  // The text for standard error: the detail where there is one, else the message without "Error:".
  std::string error_summary() const;
};

// The loader runs on the command line's loader arguments, its port and its --ignore-checksums.
RunOutcome run_session(const CommandLine& cl, ConsoleTap tap, const std::function<void()>& plug_in = {});

// A command line refused before any run (an unknown option): the event channel still gets its "start"
// and its one "end", with exit code 1 and the refusal as the error.
void report_refused_session(const std::string& port, const std::string& error);

}  // namespace vx
