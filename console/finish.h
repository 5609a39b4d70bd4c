// How a run ends.
//
// finish prints "Exit code %d" into the console and ends the run by throwing RunEnded; the code that
// started the run (wvexal, loader/run.h) catches it and the front-end does its platform's end: a
// message box, or the process status. So the whole loader can run inside a test process and the test
// reads the code.
//
// Interruption: a front-end's signal handler calls request_interrupt, which only records the signal
// (safe in a handler). The run notices it where it waits (every read window ends at once, every
// exchange and every command-file line checks it, and finish itself, since a blocking call the signal
// cut short fails with its own error): it prints "Error: Interrupted." and throws RunEnded with the
// signal, so every file is closed and the port released on the way out; the front-end then ends the
// process by that signal.
#pragma once

#include "console/exit_code.h"

namespace vx {

struct RunEnded {
  int code;        // exit_status of the ExitCode, or signal_exit_status of the signal
  int signal = 0;  // the signal that interrupted the run, 0 when it ended by itself
};

// Prints "Exit code N" and ends the run with that code (after an interruption: as interrupted).
[[noreturn]] void finish(ExitCode code);
// Prints "Exit code N", the console's last line of every run, without ending anything: for a front-end
// that ends a run the loader never began (a refused command line, the text of --help).
void print_exit_code(ExitCode code);

void request_interrupt(int signal_number) noexcept;
int interrupt_signal() noexcept;  // the signal that interrupted the run, 0 when none
// Ends the run when an interruption was requested; returns otherwise.
void check_interrupt();
void interrupt_reset() noexcept;

}  // namespace vx
