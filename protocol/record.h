// The record grammar: S2/S8 record lines as the download reads them, where the fields stand and what a
// record's head (address and number of data bytes) may hold. Pure; the download (srec.cpp) and @verify
// read records through loader/record_head.h, which refuses a bad record before anything of it is used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/address.h"

namespace vx::record {

// Positions in a record line: type at 1, count pair at 2, three address pairs at 4, data from 10.
inline constexpr char kMark = 'S';
inline constexpr char kDataType = '2';
inline constexpr char kTerminationType = '8';
inline constexpr std::size_t kTypePos = 1;
inline constexpr std::size_t kCountPos = 2;
inline constexpr std::size_t kAddressPos = 4;
inline constexpr std::size_t kDataPos = 10;
inline constexpr std::size_t kPairWidth = 2;
inline constexpr std::size_t kAddressBytes = 3;
// The count covers the three address bytes and the checksum byte besides the data.
inline constexpr unsigned kCountOverhead = 4;

struct Head {
  std::uint32_t address;
  std::uint32_t data_bytes;
};

// A field position that may lie beyond a short line is clamped to the line's end, where the pair test
// then fails instead of reading past the string.
inline const char* field(const char* line, std::size_t pos) {
  std::size_t n = 0;
  while (n < pos && line[n] != '\0') ++n;
  return line + n;
}

}  // namespace vx::record
