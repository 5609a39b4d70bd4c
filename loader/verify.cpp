#include "loader/verify.h"

#include <array>

#include "loader/loader.h"
#include "loader/record_head.h"

namespace vx {
namespace {

using record::kPairWidth;
constexpr std::size_t kS1AddressBytes = 2;
constexpr std::size_t kS2AddressBytes = 3;
constexpr std::size_t kS3AddressBytes = 4;
constexpr std::size_t kNoData = 0;
constexpr std::size_t kMaxRecordData = 256;  // a count pair holds at most 255

// How many address bytes a data record of this type has; kNoData for any other line.
std::size_t address_bytes_of(const char* line) {
  if (line[0] != record::kMark) return kNoData;
  switch (line[record::kTypePos]) {
    case '1': return kS1AddressBytes;
    case record::kDataType:
    case record::kTerminationType: return kS2AddressBytes;
    case '3': return kS3AddressBytes;
    default: return kNoData;
  }
}

}  // namespace

void ExpectedRuns::put(std::uint32_t address, std::uint8_t value) {
  const std::size_t size = run_.bytes.size();
  if (size && address >= run_.start && address - run_.start < size) {
    run_.bytes[address - run_.start] = value;  // the later record wins
    return;
  }
  if (!size || address != run_.start + size || size == kVerifyRun) {
    flush();
    run_.start = address;
  }
  run_.bytes.push_back(value);
}

void ExpectedRuns::flush() {
  if (run_.bytes.empty()) return;
  check_(run_);
  handed_on_ += run_.bytes.size();
  run_.bytes.clear();
}

void add_record_line(ExpectedRuns& runs, const char* line) {
  const std::size_t address_bytes = address_bytes_of(line);
  if (address_bytes == kNoData) return;
  const record::Head head = record::read_head(line, address_bytes);
  // The address pairs before the data were read, so it lies inside the line.
  // The whole record is read before any of it is used: a bad pair ends the run before the run it
  // would have ended is handed on to be compared.
  const char* data = line + record::kAddressPos + address_bytes * kPairWidth;
  std::array<std::uint8_t, kMaxRecordData> bytes{};
  for (std::uint32_t i = 0; i < head.data_bytes; ++i, data += kPairWidth)
    bytes[i] = static_cast<std::uint8_t>(gethb(data));
  for (std::uint32_t i = 0; i < head.data_bytes; ++i) runs.put(head.address + i, bytes[i]);
}

}  // namespace vx
