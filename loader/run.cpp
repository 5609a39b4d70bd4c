#include "loader/run.h"

#include <memory>
#include <utility>

#include "console/finish.h"
#include "console/state.h"
#include "loader/loader.h"
#include "loader/state.h"
#include "serial/link.h"

namespace vx {

int wvexal(unsigned argc, char** argv) {
  try {
    vexal(argc, argv);
    finish(ExitCode::Done);
  } catch (const RunEnded& end) {
    return end.code;
  }
}

LoaderState& loader_state() {
  static LoaderState the_loader;  // the owner: constructed at first use, so no start-up order matters
  return the_loader;
}

void fresh_loader() {
  auto state = std::make_unique<LoaderState>();
  std::swap(loader_state(), *state);
}

// The link goes first: closing its trace may still report through the console's diagnostic sink.
void fresh_run() {
  fresh_link();
  fresh_loader();
  fresh_console();
  interrupt_reset();  // a process-wide flag (a signal handler sets it), not part of any layer's state
}

}  // namespace vx
