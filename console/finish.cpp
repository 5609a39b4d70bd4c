#include "console/finish.h"

#include "console/mprintf.h"

namespace vx {

void finish(signed char p) {
  mprintf("Exit code %d", static_cast<int>(p));
  throw RunEnded{p};
}

}  // namespace vx
