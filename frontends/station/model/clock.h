// The station's clock: the steady clock's time points, so that a change of the wall clock (a time
// server correcting it mid-run) moves no board's time. The pure parts take the time as an argument and
// never read a clock themselves, so their tests run on times they make up.
#pragma once

#include <chrono>

namespace vx::station {

using SteadyTime = std::chrono::steady_clock::time_point;

}  // namespace vx::station
