// Hex digits read and byte pairs written: the one place the loader and the simulator take them from.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/hex.h"

namespace vx {
namespace {

struct DigitCase {
  char c;
  int value;
};

TEST(HexDigit, BothCasesAndTheirNeighbours) {
  const DigitCase cases[] = {
      {'0', 0},
      {'9', 9},
      {'A', 10},
      {'F', 15},
      {'a', 10},
      {'f', 15},
      {'7', 7},
      {'c', 12},
      {'/', -1},
      {':', -1},
      {'@', -1},
      {'G', -1},
      {'`', -1},
      {'g', -1},
      {' ', -1},
      {'\0', -1},
      {'x', -1},
      {'\n', -1},
      {static_cast<char>(0xB0), -1},  // '0' with the top bit set
  };
  for (const auto& c : cases) EXPECT_EQ(hex_digit(c.c), c.value) << "character " << static_cast<int>(c.c);
}

struct PairsCase {
  const char* edge;
  std::vector<std::uint8_t> bytes;
  const char* between;
  const char* text;
};

TEST(HexPairs, UpperCaseHighDigitFirst) {
  const PairsCase cases[] = {
      {"nothing", {}, "", ""},
      {"nothing, with a separator", {}, " ", ""},
      {"one byte has no separator", {0x16}, " ", "16"},
      {"packed", {0x0A, 0xFF, 0x00, 0x7B}, "", "0AFF007B"},
      {"spaced as the logs write them", {0x68, 0x0C, 0x0C, 0x68}, " ", "68 0C 0C 68"},
      {"every digit", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, "", "0123456789ABCDEF"},
      {"a longer separator", {0x00, 0x80}, ", ", "00, 80"},
  };
  for (const auto& c : cases) EXPECT_EQ(hex_pairs(c.bytes.data(), c.bytes.size(), c.between), c.text) << c.edge;
}

}  // namespace
}  // namespace vx
