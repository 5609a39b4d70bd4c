// A program's start and one run, the same for every front-end (terminal, FLTK window, Win32 window):
//
//  - settings_from_environment reads the environment once, where the program starts: the devices of
//    COM1 and COM2, the read window, the trace, the event channel and the port listing's roots. The
//    layers below read no environment; they get these settings (serial/settings.h).
//  - start_program takes the program's own options (loader/cli.h): --help, --version and --list-ports
//    give a text to show instead of a run; a refused command line gives a refusal, which a run then
//    reports like any other end (exit code 1, its "Error" line, its events); the rest is the run.
//  - run_session runs the loader with what lies around it: the event channel (VEXAL_EVENTS,
//    console/events.h: "start" before the loader runs, the phases and progress while it runs, "end"
//    once it is over) and the run's outcome (its exit code, its "Error..." line through ErrorLineWatch
//    over the console, a detail the console line lacks, the data bytes moved, the attempts repeated
//    and the time taken). --port names the device COM1 opens; --ignore-checksums goes to the loader.
//
// The loader itself runs through wvexal (loader/run.h) on the calling thread, after fresh_run; the
// front-end plugs in what a fresh run lacks (its progress view, its transfer views, a diagnostic sink)
// in `plug_in`, which runs on that thread right after fresh_run. Its tap sees every console character.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/clock.h"
#include "console/console.h"
#include "console/transfer.h"
#include "serial/port_list.h"
#include "serial/settings.h"

namespace vx {

// The texts both windows show (the FLTK one and the Win32 one): the label beside the progress bar, and
// the caption and first line of the box that says the run is over.
inline constexpr char kWindowLoadingText[] = "Loading...";
inline constexpr char kWindowEndCaption[] = "Vexal";
inline constexpr char kWindowEndText[] = "Vexal has finished";

// What the environment says for the program, read once.
struct RunSettings {
  LinkSettings link;          // VEXAL_COM1, VEXAL_COM2, VEXAL_WINDOW=full, VEXAL_TRACE (and --port)
  PortListRoots port_roots;   // VEXAL_DEV_ROOT, VEXAL_SYSFS_ROOT
  std::string events_target;  // VEXAL_EVENTS: a descriptor number or a file; "" for none
};

RunSettings settings_from_environment();

// One run as a front-end starts it.
struct RunRequest {
  std::vector<std::string> loader_args;
  RunSettings settings;
  std::string refusal;            // "Error: ..." when the command line was refused before the loader; "" to run
  std::string hint;               // said on the console after the refusal (" (see 'vexalw --help')"); not in events
  bool ignore_checksums = false;  // --ignore-checksums: S-record checksums are not checked

  bool refused() const { return !refusal.empty(); }
};

struct ProgramStart {
  std::optional<std::string> answer;  // the text of --help, --version or --list-ports, shown instead of a run
  RunRequest run;                     // otherwise the run, or the refusal to report as one
  bool quiet = false;                 // --quiet: no progress display
};

// The program called `program` started with `args` (its own name left out); `own_options` are the
// --help lines of the options only this front-end takes (usage_text, loader/cli.h).
ProgramStart start_program(const std::vector<std::string>& args, const std::string& program,
                           const RunSettings& settings, std::string_view own_options = {});

// A command line refused before it could be split into arguments (the Win32 window's limits): the run
// reports `refusal`, an "Error" line.
ProgramStart refused_program(const std::string& refusal, const RunSettings& settings);

struct RunOutcome {
  int code = 0;              // exit_status of the run's ExitCode
  std::string error;         // the console's "Error..." line (a refusal: without its hint), "" on success
  std::string detail;        // more than the line says, or ""
  bool detail_said = false;  // standard error has shown the detail already
  RunCounts counts;
  Micros run_time{0};

  // The text for standard error: the detail where there is one not yet shown, else the message
  // without "Error:".
  std::string error_summary() const;
};

// Runs the request (a refusal: its "Error" line and "Exit code 1" on the console) with its events.
RunOutcome run_session(const RunRequest& request, ConsoleTap tap, const std::function<void()>& plug_in = {});

}  // namespace vx
