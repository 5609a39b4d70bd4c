#include "protocol/srecord.h"

namespace vx::srecord {

namespace {

constexpr unsigned kByteBits = 8;
constexpr unsigned kByteMask = 0xFF;
constexpr std::size_t kChecksumBytes = 1;

using record::pair_at;

bool is_line_end_or_blank(char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }

bool only_line_end_after(std::string_view line, std::size_t pos) {
  for (std::size_t i = pos; i < line.size(); ++i)
    if (!is_line_end_or_blank(line[i])) return false;
  return true;
}

// A pair missing from a short line is quoted from the line's end, never beyond it.
Parsed fail(Parsed p, Fault fault, std::size_t at, std::string_view line) {
  p.fault = fault;
  p.bad_at = at < line.size() ? at : line.size();
  return p;
}

}  // namespace

std::size_t address_bytes_of(char type) {
  switch (type) {
    case '0':
    case '1':
    case '5':
    case '9': return 2;
    case '2':
    case '6':
    case '8': return 3;
    case '3':
    case '7': return 4;
    default: return 0;
  }
}

Parsed parse_line(std::string_view line, bool check_checksum) {
  Parsed p;
  Record& r = p.record;
  if (line.empty() || line[0] != kMark) return fail(p, Fault::NotARecord, 0, line);
  if (line.size() <= kTypePos || address_bytes_of(line[kTypePos]) == 0)
    return fail(p, Fault::NotARecord, kTypePos, line);
  r.type = line[kTypePos];
  r.address_bytes = address_bytes_of(r.type);
  unsigned sum = 0;
  for (std::size_t k = 0; k < r.address_bytes; ++k) {
    const std::size_t at = kAddressPos + k * kPairWidth;
    const int b = pair_at(line, at);
    if (b < 0) return fail(p, Fault::BadPair, at, line);
    r.address = r.address << kByteBits | static_cast<std::uint32_t>(b);
    sum += static_cast<unsigned>(b);
  }
  const int count = pair_at(line, kCountPos);  // inside the line: the address pairs after it were read
  if (count < 0) return fail(p, Fault::BadPair, kCountPos, line);
  if (static_cast<std::size_t>(count) < r.address_bytes + kChecksumBytes)
    return fail(p, Fault::ShortCount, kCountPos, line);
  sum += static_cast<unsigned>(count);
  r.data_size = static_cast<std::size_t>(count) - r.address_bytes - kChecksumBytes;
  std::size_t at = kAddressPos + r.address_bytes * kPairWidth;
  for (std::size_t i = 0; i < r.data_size; ++i, at += kPairWidth) {
    const int b = pair_at(line, at);
    if (b < 0) return fail(p, Fault::BadPair, at, line);
    r.data[i] = static_cast<std::uint8_t>(b);
    sum += static_cast<unsigned>(b);
  }
  const int stated = pair_at(line, at);
  if (stated < 0) return fail(p, Fault::BadPair, at, line);
  r.stated_checksum = static_cast<std::uint8_t>(stated);
  r.computed_checksum = static_cast<std::uint8_t>(~sum & kByteMask);
  if (!only_line_end_after(line, at + kPairWidth)) return fail(p, Fault::TrailingText, at, line);
  if (check_checksum && r.stated_checksum != r.computed_checksum) return fail(p, Fault::Checksum, at, line);
  return p;
}

}  // namespace vx::srecord
