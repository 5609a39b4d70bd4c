// The simulator's command line, parsed without side effects so it can be tested.
//
// Options take their value as the next argument or after '=' (--baud 9600, --baud=9600). Addresses and
// lengths are hexadecimal, with or without 0x, like the loader's memory commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/faults.h"
#include "board/memory.h"
#include "protocol/line.h"

namespace vx::board {

inline constexpr unsigned kMaxBaud = 4000000;

struct LoadSpec {
  std::string file;
  std::uint32_t address = 0;
};

struct DumpSpec {
  std::string file;
  Range range;
};

struct Options {
  std::string link;
  std::string device;
  std::string log;
  unsigned baud = 0;  // 0: not given
  Parity parity = Parity::None;
  Millis think{0};
  Settings board;
  std::vector<LoadSpec> loads;
  std::optional<DumpSpec> dump;
  std::vector<FaultRule> faults;
  std::uint64_t seed = 1;
  bool help = false;
  bool version = false;
};

bool parse_options(const std::vector<std::string>& args, Options& out, std::string& why);
std::string usage_text();

}  // namespace vx::board
