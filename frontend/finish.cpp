#include "frontend/finish.h"

#include "frontend/console.h"
#include "frontend/mprintf.h"
#include "frontend/progress.h"
#include "loader/loader.h"
#include "serial/comdrv.h"
#include "serial/telegram.h"

namespace vx {

void finish(signed char p) {
  mprintf("Exit code %d", static_cast<int>(p));
  throw RunEnded{p};
}

int wvexal(unsigned argc, char** argv) {
  try {
    vexal(argc, argv);
    finish(0);
  } catch (const RunEnded& end) {
    return end.code;
  }
}

void reset_loader_state() {
  console_reset();
  comdrv_reset();
  link_reset();
  driver_reset();
  cmdfile_reset();
  block_reset();
  resetpbar();
  progress_reset();
}

}  // namespace vx
