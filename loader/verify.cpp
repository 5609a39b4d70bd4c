#include "loader/verify.h"

#include "loader/lines.h"
#include "loader/loader.h"
#include "loader/record_head.h"

namespace vx {
namespace {

using record::kDataPos;
using record::kPairWidth;

bool gives_data(const char* line) {
  return line[0] == record::kMark &&
         (line[record::kTypePos] == record::kDataType || line[record::kTypePos] == record::kTerminationType);
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
  const record::Head head = record::read_head(line);
  const char* data = line + kDataPos;  // the address pairs before it were read, so it lies inside
  for (std::uint32_t i = 0; i < head.data_bytes; ++i, data += kPairWidth)
    image.put(head.address + i, static_cast<std::uint8_t>(gethb(data)));
}

ExpectedImage image_of_file(const char* soubor) {
  ExpectedImage image;
  LineReader file(soubor);
  LineReader::Line line;
  while (file.next(line)) add_record_line(image, line.text);
  return image;
}

}  // namespace vx
