#include "protocol/record.h"

#include <cstring>

#include "protocol/hex.h"

namespace vx::record {

namespace {
constexpr unsigned kNibbleBits = 4;

int join(int high, int low) {
  if (high < 0 || low < 0) return -1;
  return static_cast<int>(static_cast<unsigned>(high) << kNibbleBits | static_cast<unsigned>(low));
}
}  // namespace

int pair_value(char high, char low) { return join(hex_digit(high), hex_digit(low)); }

int pair_at(const char* p) {
  const int high = hex_digit(p[0]);
  return high < 0 ? -1 : join(high, hex_digit(p[1]));
}

int pair_at(std::string_view text, std::size_t pos) {
  if (pos > text.size() || text.size() - pos < kPairWidth) return -1;
  return pair_value(text[pos], text[pos + 1]);
}

std::string hex_byte(std::uint8_t b) { return hex_pairs(&b, 1); }

bool starts_with_byte_order_mark(const std::uint8_t* p, std::size_t n) {
  return n >= sizeof kByteOrderMark && std::memcmp(p, kByteOrderMark, sizeof kByteOrderMark) == 0;
}

}  // namespace vx::record
