// One run of the loader, as every front-end, test, fuzz target and benchmark starts it.
//
// A run's state is three objects, one per layer: the console's (console/state.h), the link's
// (serial/link.h) and the loader's (loader/state.h). fresh_run constructs all three anew, so a run in
// a process that ran others starts as the first one did: empty console, no port, no trace, no block,
// no options, and no hooks. What a caller plugs in (the console tap, the progress view, the diagnostic
// sink, the port opener) it sets after fresh_run.
#pragma once

namespace vx {

// The worker's routine: calls vexal with the argument vector and finishes with 0 when it returns.
// Returns the exit code of the run; never throws RunEnded.
int wvexal(unsigned argc, char** argv);

// Fresh console, link and loader state, as a new process has them.
void fresh_run();

}  // namespace vx
