#include "frontends/station/model/board_quota.h"

namespace vx::station {

bool BoardQuota::board_ended(bool passed, bool stopping) {
  if (passed) ++passed_;
  if (limit_ == 0 || passed_ < limit_ || stopping) return false;
  reached_ = true;
  return true;
}

}  // namespace vx::station
