#include "frontends/station/model/relist_timer.h"

#include <algorithm>

namespace vx::station {

void RelistTimer::device_changed(SteadyTime now) { due_at_ = std::max(now + kSettle, last_listed_ + kMinRelist); }

bool RelistTimer::due(SteadyTime now) {
  if (polling_ && !due_at_) due_at_ = last_listed_ + kFallbackRelist;
  if (!due_at_ || now < *due_at_) return false;
  due_at_.reset();
  return true;
}

std::optional<SteadyTime> RelistTimer::next(bool stopping) const {
  std::optional<SteadyTime> wake = due_at_;
  if (polling_ && !stopping) {
    const SteadyTime fallback = last_listed_ + kFallbackRelist;
    if (!wake || fallback < *wake) wake = fallback;
  }
  return wake;
}

}  // namespace vx::station
