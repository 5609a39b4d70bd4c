// One run of the loader, as every front-end starts it.
#pragma once

namespace vx {

// The worker's routine: calls vexal with the argument vector and finishes with 0 when it returns.
// Returns the exit code of the run; never throws RunEnded.
int wvexal(unsigned argc, char** argv);

// Resets every module's state to that of a fresh process (console, link, block, options, progress).
void reset_loader_state();

}  // namespace vx
