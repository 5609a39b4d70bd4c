#include "loader/record_head.h"

#include "console/finish.h"
#include "console/mprintf.h"
#include "loader/loader.h"

namespace vx::record {

namespace {
constexpr int kBadFormatExit = 3;
}

void bad_format(const char* rest) {
  mprintf("Bad format:%s\n", rest);
  finish(kBadFormatExit);
}

Head read_head(const char* line, std::size_t address_bytes) {
  const char* address = field(line, kAddressPos);
  std::uint64_t a = 0;
  for (std::size_t k = 0; k < address_bytes; ++k) a = (a << 8) | gethb(address + k * kPairWidth);
  const char* count_pair = line + kCountPos;  // inside the line: the address pairs after it were read
  const unsigned count = gethb(count_pair);
  // The count covers the address bytes and the checksum besides the data.
  const unsigned overhead = kCountOverhead - static_cast<unsigned>(kAddressBytes) + static_cast<unsigned>(address_bytes);
  if (count < overhead) bad_format(count_pair);
  const std::uint32_t n = count - overhead;
  if (a + n > kAddressSpace) bad_format(count_pair);
  return Head{static_cast<std::uint32_t>(a), n};
}

}  // namespace vx::record
