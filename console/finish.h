// How a run ends.
//
// finish prints "Exit code %d" into the console and ends the run by throwing RunEnded; the code that
// started the run (wvexal, loader/run.h) catches it and the front-end does its platform's end: a
// message box, or the process status. So the whole loader can run inside a test process and the test
// reads the code.
#pragma once

namespace vx {

struct RunEnded {
  int code;
};

[[noreturn]] void finish(signed char p);

}  // namespace vx
