// One S-record line of any type, S0 to S9, read whole: its type, address, data bytes, the checksum it
// states and the one its fields give. Pure: no I/O, no printing, no allocation.
//
// A line is "S", a type digit, a count pair, the address pairs (2 for S0, S1, S5, S9; 3 for S2, S6,
// S8; 4 for S3, S7), the data pairs and the checksum pair. The count is the number of pairs after it
// (address, data and checksum); the checksum is the ones' complement of the low byte of the sum of the
// count, address and data bytes. After the checksum pair only a line end (LF, CR LF, a lone CR) and
// blanks may follow. Digits are read in either case.
//
// The fields are read in the order the loader has always read them: the address pairs first, then the
// count, then the data and the checksum. The first field that fails gives the fault and the position
// where "Bad format:" begins its quotation of the line:
//  - a pair that is no hexadecimal pair (or lies past the line's end): that pair;
//  - a count below the address bytes and the checksum: the count pair;
//  - a checksum that differs from the one computed, or text after the checksum pair: the checksum pair.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/record.h"

namespace vx::srecord {

using record::kCountPos;
using record::kMark;
using record::kPairWidth;
using record::kTypePos;
inline constexpr std::size_t kAddressPos = kCountPos + kPairWidth;
inline constexpr std::size_t kMaxData = 255;  // a count pair holds at most 255

enum class Fault {
  None,
  NotARecord,    // no 'S' first, or a type that is no record type (S4, a letter): position 0 or 1
  BadPair,       // a field that is no hexadecimal pair, or is missing
  ShortCount,    // the count can't cover the address bytes and the checksum
  Checksum,      // the checksum stated is not the checksum of the fields
  TrailingText,  // the line holds more than its count says
};

struct Record {
  char type = '\0';  // '0'..'9'
  std::uint32_t address = 0;
  std::size_t address_bytes = 0;
  std::array<std::uint8_t, kMaxData> data{};
  std::size_t data_size = 0;
  std::uint8_t stated_checksum = 0;
  std::uint8_t computed_checksum = 0;
};

struct Parsed {
  Fault fault = Fault::None;
  std::size_t bad_at = 0;  // where the line's quotation for "Bad format:" begins; meaningful with a fault
  Record record;           // the fields read before the fault; whole when there is none
};

// The address bytes of a record type: 2, 3 or 4; 0 for a character that is no record type ('4' too).
std::size_t address_bytes_of(char type);

// Reads one line (its line end may be included). With `check_checksum` false a wrong checksum is no
// fault (both values are still given); every other fault stays.
Parsed parse_line(std::string_view line, bool check_checksum = true);

// True for a fault a line's checksum alone caused.
inline bool is_checksum_fault(const Parsed& p) { return p.fault == Fault::Checksum; }

}  // namespace vx::srecord
