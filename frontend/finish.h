// How a run ends.
//
// finish prints "Exit code %d" into the console and ends the run by throwing RunEnded; the front-end
// that started the run (run_vexal) catches it and does its platform's end: a message box, or the
// process status. So the whole loader can run inside a test process and the test reads the code.
#pragma once

namespace vx {

struct RunEnded {
  int code;
};

[[noreturn]] void finish(signed char p);

// The worker's routine: points the console at its start, calls vexal with the argument vector, and
// finishes with 0 when it returns. Returns the exit code of the run; never throws RunEnded.
int wvexal(unsigned argc, char** argv);

// Resets every module's state to that of a fresh process (console, link, block, options, progress).
void reset_loader_state();

}  // namespace vx
