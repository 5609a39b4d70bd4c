#include "loader/record_head.h"

#include <fstream>
#include <string>

#include "console/finish.h"
#include "console/mprintf.h"
#include "loader/loader.h"

namespace vx::record {

namespace {
constexpr int kBadFormatExit = 3;

int lenient_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

void bad_format(const char* rest) {
  mprintf("Bad format:%s\n", rest);
  finish(kBadFormatExit);
}

Head read_head(const char* line) {
  const char* address = field(line, kAddressPos);
  std::uint32_t a = 0;
  for (std::size_t k = 0; k < kAddressBytes; ++k) a = (a << 8) | gethb(address + k * kPairWidth);
  const char* count_pair = line + kCountPos;  // inside the line: the address pairs after it were read
  const unsigned count = gethb(count_pair);
  if (count < kCountOverhead) bad_format(count_pair);
  const std::uint32_t n = count - kCountOverhead;
  if (a + n > kAddressSpace) bad_format(count_pair);
  return Head{a, n};
}

std::uint32_t declared_data_bytes(const char* line) {
  if (line[0] != kMark || line[kTypePos] != kDataType || !line[kCountPos]) return 0;
  const int high = lenient_digit(line[kCountPos]), low = lenient_digit(line[kCountPos + 1]);
  if (high < 0 || low < 0) return 0;
  const unsigned count = static_cast<unsigned>(high * 16 + low);
  return count < kCountOverhead ? 0 : count - kCountOverhead;
}

std::int64_t declared_data_bytes_in_file(const char* fname) {
  std::ifstream in(fname, std::ios::binary);
  std::int64_t total = 0;
  for (std::string line; std::getline(in, line);) total += declared_data_bytes(line.c_str());
  return total;
}

}  // namespace vx::record
