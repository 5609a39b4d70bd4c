#include "loader/verify.h"

#include <cstring>
#include <string>

#include "frontend/finish.h"
#include "frontend/mprintf.h"
#include "loader/block.h"
#include "loader/loader.h"

namespace vx {
namespace {

// Positions in a record line: type at 1, count pair at 2, three address pairs at 4, data from 10.
constexpr char kRecordMark = 'S';
constexpr char kDataRecord = '2';
constexpr char kTerminationRecord = '8';
constexpr std::size_t kTypePos = 1;
constexpr std::size_t kCountPos = 2;
constexpr std::size_t kAddressPos = 4;
constexpr std::size_t kDataPos = 10;
constexpr std::size_t kPairWidth = 2;
// The count covers the three address bytes and the checksum byte besides the data.
constexpr unsigned kCountOverhead = 4;
constexpr std::uint32_t kAddressSpace = 0x1000000;  // 24-bit addresses

constexpr int kBadFormatExit = 3;
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
constexpr char kCtrlZ = '\x1A';

[[noreturn]] void bad_format(const char* rest) {
  mprintf("Bad format:%s\n", rest);
  finish(kBadFormatExit);
}

// A position that may lie beyond a short line is clamped to the line's end, where gethb then fails
// instead of reading past the string.
const char* field(const char* line, std::size_t pos) { return line + strnlen(line, pos); }

bool gives_data(const char* line) {
  return line[0] == kRecordMark && (line[kTypePos] == kDataRecord || line[kTypePos] == kTerminationRecord);
}

struct RecordHead {
  std::uint32_t address;
  std::uint32_t data_bytes;
};

// The address pairs are read before the count, as the download reads them, so a record that is bad in
// both places names the same place in either.
RecordHead read_head(const char* line) {
  const char* address = field(line, kAddressPos);
  std::uint32_t a = 0;
  for (std::size_t k = 0; k < kAddressBytes; ++k) a = (a << 8) | gethb(address + k * kPairWidth);
  const char* count_pair = line + kCountPos;  // inside the line: the address pairs after it were read
  const unsigned count = gethb(count_pair);
  if (count < kCountOverhead) bad_format(count_pair);
  const std::uint32_t n = count - kCountOverhead;
  if (a + n > kAddressSpace) bad_format(count_pair);
  return RecordHead{a, n};
}

}  // namespace

void ExpectedImage::put(std::uint32_t address, std::uint8_t value) {
  Page& page = pages_[address - address % kPageSize];
  const std::size_t i = address % kPageSize;
  if (!page.present[i]) ++covered_;
  page.present[i] = true;
  page.bytes[i] = value;
}

std::uint8_t ExpectedImage::at(std::uint32_t address) const {
  const auto it = pages_.find(address - address % kPageSize);
  return it == pages_.end() ? 0 : it->second.bytes[address % kPageSize];
}

std::vector<MemoryRange> ExpectedImage::ranges() const {
  std::vector<MemoryRange> out;
  for (const auto& [base, page] : pages_) {
    for (std::size_t i = 0; i < kPageSize; ++i) {
      if (!page.present[i]) continue;
      const auto address = static_cast<std::uint32_t>(base + i);
      if (!out.empty() && out.back().start + out.back().length == address)
        ++out.back().length;
      else
        out.push_back(MemoryRange{address, 1});
    }
  }
  return out;
}

void add_record_line(ExpectedImage& image, const char* line) {
  if (!gives_data(line)) return;
  const RecordHead head = read_head(line);
  const char* data = line + kDataPos;  // the address pairs before it were read, so it lies inside
  for (std::uint32_t i = 0; i < head.data_bytes; ++i, data += kPairWidth)
    image.put(head.address + i, static_cast<std::uint8_t>(gethb(data)));
}

ExpectedImage image_of_records(std::string_view text) {
  text = text.substr(0, text.find(kCtrlZ));
  ExpectedImage image;
  std::string line;
  while (!text.empty()) {
    const std::size_t end = text.find(kLineFeed);
    line.assign(text.substr(0, end));
    if (end != std::string_view::npos && !line.empty() && line.back() == kCarriageReturn) line.pop_back();
    add_record_line(image, line.c_str());
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return image;
}

}  // namespace vx
