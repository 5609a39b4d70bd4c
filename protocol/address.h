// The board's memory is reached through 24-bit addresses: six digits in a read or write telegram, three
// bytes in a block telegram or an S2 record. Everything that checks a range against the top of the
// memory (the record grammar, "@binput", the simulator's memory) checks it against this one constant.
#pragma once

#include <cstdint>

namespace vx {

inline constexpr std::uint32_t kAddressSpace = 0x1000000;  // one past the last address

}  // namespace vx
