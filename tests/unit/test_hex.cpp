// Hex digits read and byte pairs written: the one place the loader and the simulator take them from;
// and the records module's pairs, bytes and byte-order mark, which every reader of the loader shares.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/hex.h"
#include "protocol/record.h"

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

struct PairCase {
  const char* edge;
  std::string text;
  std::size_t pos;
  int value;
};

TEST(RecordPair, TwoDigitsInsideTheText) {
  const PairCase cases[] = {
      {"upper case", "C4", 0, 0xC4},
      {"the mark is no digit", "S2", 0, -1},
      {"a pair", "7F", 0, 0x7F},
      {"lower case", "ab", 0, 0xAB},
      {"mixed case", "fE", 0, 0xFE},
      {"the lowest", "00", 0, 0x00},
      {"the highest", "FF", 0, 0xFF},
      {"from a position", "S214", 2, 0x14},
      {"a digit and a letter past F", "1G", 0, -1},
      {"a letter past F and a digit", "G1", 0, -1},
      {"a blank second", "1 ", 0, -1},
      {"one digit left at the end", "S21", 2, -1},
      {"at the very end", "S2", 2, -1},
      {"past the end", "S2", 5, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(record::pair_at(c.text, c.pos), c.value) << c.edge;
    if (c.pos + 1 < c.text.size()) {
      EXPECT_EQ(record::pair_at(c.text.c_str() + c.pos), c.value) << c.edge;
    }
  }
}

TEST(RecordPair, ZeroTerminatedTextIsNotReadPastItsEnd) {
  const char cut[] = {'A', '\0', 'B'};  // the 'B' past the end must not make a pair
  EXPECT_EQ(record::pair_at(cut), -1);
  const char empty[] = {'\0', '5'};
  EXPECT_EQ(record::pair_at(empty), -1);
}

TEST(RecordByte, TwoUpperCaseDigits) {
  EXPECT_EQ(record::hex_byte(0x00), "00");
  EXPECT_EQ(record::hex_byte(0x0A), "0A");
  EXPECT_EQ(record::hex_byte(0xbc), "BC");
  EXPECT_EQ(record::hex_byte(0xFF), "FF");
}

struct MarkCase {
  const char* edge;
  std::vector<std::uint8_t> bytes;
  bool marked;
};

TEST(RecordByteOrderMark, OnlyTheWholeMarkFirst) {
  const MarkCase cases[] = {
      {"the mark", {0xEF, 0xBB, 0xBF}, true},
      {"the mark before a record", {0xEF, 0xBB, 0xBF, 'S', '2'}, true},
      {"two bytes of it", {0xEF, 0xBB}, false},
      {"its last byte wrong", {0xEF, 0xBB, 0xBE}, false},
      {"a record first", {'S', 0xEF, 0xBB, 0xBF}, false},
      {"nothing", {}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(record::starts_with_byte_order_mark(c.bytes.data(), c.bytes.size()), c.marked) << c.edge;
}

TEST(RecordIsRecord, TheMarkAndTheType) {
  EXPECT_TRUE(record::is_record("S2140000", record::kDataType));
  EXPECT_TRUE(record::is_record("S804000000FB", record::kTerminationType));
  EXPECT_FALSE(record::is_record("s2140000", record::kDataType));
  EXPECT_FALSE(record::is_record("S1130000", record::kDataType));
  EXPECT_FALSE(record::is_record("S", record::kDataType));
  EXPECT_FALSE(record::is_record("", record::kDataType));
}

}  // namespace
}  // namespace vx
