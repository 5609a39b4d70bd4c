#include "loader/record_head.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "console/finish.h"
#include "console/mprintf.h"
#include "loader/loader.h"
#include "protocol/hex.h"

namespace vx::record {

namespace {
constexpr std::size_t kScanPiece = 65536;
// A line's head as far as the count pair: mark, type, count (kCountPos + kPairWidth characters).
constexpr std::size_t kHeadChars = kCountPos + kPairWidth;

// The address bytes of a data record type that counts, 0 for one that doesn't.
std::size_t address_bytes_of(char type, bool all_data_types) {
  if (type == kDataType) return kAddressBytes;
  if (!all_data_types) return 0;
  if (type == '1') return kAddressBytes - 1;
  if (type == '3') return kAddressBytes + 1;
  return 0;
}

bool is_regular_file(const char* fname) {
  struct stat st {};
  return ::stat(fname, &st) == 0 && S_ISREG(st.st_mode);
}

// Sums the declared bytes of every line of an open file, keeping only each line's head.
std::int64_t sum_declared(std::FILE* f, bool all_data_types) {
  std::vector<char> piece(kScanPiece);
  char head[kHeadChars + 1] = {};
  std::size_t in_line = 0;
  std::int64_t total = 0;
  std::size_t got = 0;
  while ((got = std::fread(piece.data(), 1, piece.size(), f)) > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      if (piece[i] == '\n') {
        total += declared_data_bytes(head, all_data_types);
        in_line = 0;
        head[0] = '\0';
      } else if (in_line < kHeadChars) {
        head[in_line++] = piece[i];
        head[in_line] = '\0';
      }
    }
  }
  return total + declared_data_bytes(head, all_data_types);
}
}  // namespace

void bad_format(const char* rest) {
  mprintf("Bad format:%s\n", rest);
  finish(ExitCode::FileFailed);
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

std::uint32_t declared_data_bytes(const char* line, bool all_data_types) {
  if (line[0] != kMark || !line[kTypePos] || !line[kCountPos]) return 0;
  const std::size_t address_bytes = address_bytes_of(line[kTypePos], all_data_types);
  if (address_bytes == 0) return 0;
  const int high = hex_digit(line[kCountPos]), low = hex_digit(line[kCountPos + 1]);
  if (high < 0 || low < 0) return 0;
  const unsigned count = static_cast<unsigned>(high * 16 + low);
  const unsigned overhead = static_cast<unsigned>(address_bytes) + 1;  // and the checksum byte
  return count < overhead ? 0 : count - overhead;
}

std::int64_t declared_data_bytes_in_file(const char* fname, bool all_data_types) {
  if (!is_regular_file(fname)) return 0;
  std::FILE* f = std::fopen(fname, "rb");
  if (!f) return 0;  // the reader's own open reports it
  const std::int64_t total = sum_declared(f, all_data_types);
  // Only read, for a figure: a failing close loses nothing.
  static_cast<void>(std::fclose(f));
  return total;
}

}  // namespace vx::record
