// What the station's unit tests share: a start time clear of the clock's zero, and blank runs for
// the expected table and log lines.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "frontends/station/model/board.h"

namespace vx::station {

inline const SteadyTime kT0 = SteadyTime{} + std::chrono::hours(1);

inline std::string blanks(std::size_t n) { return std::string(n, ' '); }

}  // namespace vx::station
