// Hexadecimal as the telegrams, the records and the logs write it: one pair of digits a byte, high digit
// first, upper case when written; read in either case.
//
// Every place that turns bytes into pairs (the write telegrams, the simulator's read answers, the trace
// and the simulator's log) and every place that reads a digit goes through these two, so the loader and
// the board can't come to disagree about what a digit is. The loader's readers take whole pairs through
// protocol/record.h; the simulator reads its own pairs from these digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit, upper or lower case; -1 for any other character.
int hex_digit(char c);

// The bytes as upper-case digit pairs with `between` between two pairs: "0AFF", or "0A FF" with " ".
std::string hex_pairs(const std::uint8_t* p, std::size_t n, std::string_view between = {});

}  // namespace vx
