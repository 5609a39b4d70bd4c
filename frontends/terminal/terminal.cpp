// vexal: the loader in a terminal.
//
// Runs the loader on this thread with the process's own arguments and shows the console on standard
// output (live on a terminal, as a log otherwise). The process status is the run's exit code (0 to 9;
// 1 when the arguments are refused). Diagnostics the console has no room for go to standard error.
// Ctrl-C or SIGTERM ends the run with "Error: Interrupted." (frontends/terminal/interrupt.h); every
// console line is written out and the port released before the process ends by that signal.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "loader/args.h"
#include "console/console.h"
#include "console/diag.h"
#include "console/finish.h"
#include "loader/run.h"
#include "frontends/terminal/interrupt.h"
#include "frontends/terminal/terminal_view.h"
#include "serial/comdrv.h"

namespace {

int run(int argc, char** argv, vx::TerminalPrinter& printer, bool live) {
  vx::fresh_run();
  vx::console_set_tap([&printer](char c) { printer.putc(c); });
  vx::set_progress_view(live ? &printer : nullptr);
  std::vector<std::string> args(argv + 1, argv + argc);
  vx::ArgVector av;
  std::string error;
  if (!vx::args_from_list(args, av, error)) return vx::refuse_run(error);
  return vx::wvexal(av.argc(), av.argv());
}

}  // namespace

int main(int argc, char** argv) {
  const bool live = ::isatty(STDOUT_FILENO) == 1;
  vx::TerminalPrinter printer(stdout, live, vx::steady_clock(), vx::terminal_columns(stdout, 80));
  vx::catch_interruptions();
  int code;
  try {
    code = run(argc, argv, printer, live);
  } catch (const std::exception& e) {
    vx::diagnostic(std::string("internal failure: ") + e.what());
    code = vx::kRefusedExit;
  }
  vx::set_progress_view(nullptr);
  vx::console_set_tap(nullptr);
  printer.end();
  if (const int signal_number = vx::interrupt_signal()) {
    vx::comdrv_close();  // the exclusive flag and the lock go with it; ending by a signal runs no destructor
    vx::end_by_signal(signal_number);
  }
  return code;
}
