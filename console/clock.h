// A monotonic clock behind an interface, so that read windows, trace times and the terminal's redraw
// pacing run on the real clock in the programs and on a fake one in tests.
// utc_timestamp gives the wall clock's time for records a person or another program reads later.
#pragma once

#include <string>

#include "protocol/line.h"

namespace vx {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Micros now() const = 0;  // monotonic
  virtual void sleep_for(Micros d) const = 0;
};

// The process's steady clock.
const Clock& steady_clock();

// Now in UTC, to the second: "2026-12-09T02:14:23Z"; "(time unknown)" when the system can't tell.
std::string utc_timestamp();

}  // namespace vx
