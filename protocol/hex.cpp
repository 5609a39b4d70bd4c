#include "protocol/hex.h"

namespace vx {

namespace {
constexpr int kDigitBase = 10;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;
}  // namespace

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + kDigitBase;
  if (c >= 'a' && c <= 'f') return c - 'a' + kDigitBase;
  return -1;
}

std::string hex_pairs(const std::uint8_t* p, std::size_t n, std::string_view between) {
  std::string s;
  s.reserve(n * (2 + between.size()));
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s.append(between);
    s.push_back(kHexDigits[p[i] >> kNibbleBits]);
    s.push_back(kHexDigits[p[i] & kNibbleMask]);
  }
  return s;
}

}  // namespace vx
