#include "frontends/station/model/relist_timer.h"

#include <algorithm>

namespace vx::station {

void RelistTimer::device_changed(SteadyTime now) { due_at_ = std::max(now + kSettle, last_listed_ + kMinRelist); }

bool RelistTimer::due(SteadyTime now) {
  if (stopped_) return false;
  // The fallback's time is worked out, not kept: kept, next() would give it while the station stops.
  std::optional<SteadyTime> at = due_at_;
  if (polling_ && !at) at = last_listed_ + kFallbackRelist;
  if (!at || now < *at) return false;
  due_at_.reset();
  return true;
}

std::optional<SteadyTime> RelistTimer::next(bool stopping) const {
  if (stopped_) return std::nullopt;
  std::optional<SteadyTime> wake = due_at_;
  if (polling_ && !stopping) {
    const SteadyTime fallback = last_listed_ + kFallbackRelist;
    if (!wake || fallback < *wake) wake = fallback;
  }
  return wake;
}

void RelistTimer::stop() {
  stopped_ = true;
  due_at_.reset();
}

}  // namespace vx::station
