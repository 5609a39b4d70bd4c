// The line the telegrams travel on: its settings and its units of time. Pure declarations, shared by
// the loader's port layer and the board simulator.
#pragma once

#include <chrono>

namespace vx {

using Millis = std::chrono::milliseconds;
using Micros = std::chrono::microseconds;

enum class Parity { None, Odd, Even };

// The rate the loader opens its port at when no bBAUD argument names one, and so the rate the board
// simulator's device runs at unless told otherwise.
inline constexpr unsigned kDefaultBaud = 38400;

struct LineSettings {
  unsigned baud = kDefaultBaud;
  Parity parity = Parity::None;
};

// The idle time the line keeps between an answer and the next request: 33 bit times (FT 1.2).
inline Micros idle_interval(unsigned baud) {
  constexpr long kIdleBits = 33;
  if (baud == 0) return Micros(0);
  return Micros((kIdleBits * 1000000L + baud - 1) / baud);
}

}  // namespace vx
