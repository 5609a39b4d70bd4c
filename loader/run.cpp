#include "loader/run.h"

#include "console/console.h"
#include "console/finish.h"
#include "console/progress.h"
#include "loader/loader.h"
#include "serial/comdrv.h"
#include "serial/telegram.h"

namespace vx {

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
