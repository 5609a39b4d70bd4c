#include "loader/verify.h"

#include "loader/loader.h"
#include "loader/record_head.h"

namespace vx {
namespace {

// The records @verify compares: the data records, and S8 with data, as the download has always taken it.
bool is_compared_record(const char* line) {
  if (line[0] != record::kMark) return false;
  const char type = line[record::kTypePos];
  return type == '1' || type == record::kDataType || type == '3' || type == record::kTerminationType;
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

void add_record_line(ExpectedRuns& runs, const char* line, const record::Place& where) {
  if (!is_compared_record(line)) return;
  // The whole record is read before any of it is used: a bad pair ends the run before the run it
  // would have ended is handed on to be compared.
  const srecord::Record r = record::read_record(line, where);
  for (std::size_t i = 0; i < r.data_size; ++i) runs.put(r.address + static_cast<std::uint32_t>(i), r.data[i]);
}

}  // namespace vx
