// A monotonic clock behind an interface, so that read windows, trace times and the terminal's redraw
// pacing run on the real clock in the programs and on a fake one in tests.
#pragma once

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

}  // namespace vx
