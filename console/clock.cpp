#include "console/clock.h"

#include <ctime>
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

std::string utc_timestamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm* t = now == static_cast<std::time_t>(-1) ? nullptr : std::gmtime(&now);
  char text[32];
  if (!t || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", t) == 0) return "(time unknown)";
  return text;
}

}  // namespace vx
