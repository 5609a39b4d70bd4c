// The S-record grammar as the loader documents it, read independently of the loader's own code: what a
// line asks the board to hold. The fuzz targets compare what the loader did against it.
//
//   address pairs at 4, 6, 8 (read first), count pair at 2, count - 4 data pairs from 10, then the
//   checksum pair; a count below 4, data running past the 24-bit address space, a checksum other than
//   the ones' complement of the low byte of the sum of count, address and data bytes, or anything but
//   line ends and blanks after the checksum pair refuse the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"

namespace vx::fuzz {

struct RecordReading {
  bool valid = false;
  std::uint32_t address = 0;
  Bytes data;  // the data bytes read before the first bad pair (all of them when valid)
};

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

inline std::optional<std::uint8_t> pair_at(const std::string& line, std::size_t pos) {
  if (pos + 2 > line.size()) return std::nullopt;
  const int high = hex_value(line[pos]);
  const int low = hex_value(line[pos + 1]);
  if (high < 0 || low < 0) return std::nullopt;
  return static_cast<std::uint8_t>(high * 16 + low);
}

inline RecordReading read_record(const std::string& line) {
  constexpr std::size_t kCountPos = 2;
  constexpr std::size_t kAddressPos = 4;
  constexpr std::size_t kDataPos = 10;
  constexpr unsigned kCountOverhead = 4;
  constexpr std::uint32_t kAddressSpace = 0x1000000;
  RecordReading r;
  std::uint32_t address = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    auto byte = pair_at(line, kAddressPos + 2 * k);
    if (!byte) return r;
    address = (address << 8) | *byte;
  }
  auto count = pair_at(line, kCountPos);
  if (!count || *count < kCountOverhead) return r;
  const std::uint32_t n = *count - kCountOverhead;
  if (address + n > kAddressSpace) return r;
  r.address = address;
  unsigned sum = *count + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
  for (std::uint32_t i = 0; i < n; ++i) {
    auto byte = pair_at(line, kDataPos + 2 * i);
    if (!byte) return r;
    r.data.push_back(*byte);
    sum += *byte;
  }
  const std::size_t checksum_at = kDataPos + 2 * n;
  auto checksum = pair_at(line, checksum_at);
  if (!checksum || *checksum != (~sum & 0xFF)) return r;
  if (line.find_first_not_of("\r\n \t", checksum_at + 2) != std::string::npos) return r;
  r.valid = true;
  return r;
}

}  // namespace vx::fuzz
