#include "console/clock.h"

#include <thread>

namespace vx {

namespace {
class SteadyClock : public Clock {
 public:
  Micros now() const override {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
  }
  void sleep_for(Micros d) const override {
    if (d.count() > 0) std::this_thread::sleep_for(d);
  }
};
}  // namespace

const Clock& steady_clock() {
  static const SteadyClock clock;
  return clock;
}

}  // namespace vx
