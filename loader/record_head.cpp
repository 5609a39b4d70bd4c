#include "loader/record_head.h"

#include <cstdio>
#include <string_view>

#include "console/finish.h"
#include "console/messages.h"
#include "console/mprintf.h"
#include "console/outcome.h"
#include "loader/lines.h"
#include "loader/loader.h"
#include "loader/state.h"

namespace vx::record {

namespace {
constexpr char kS1 = '1';
constexpr char kS3 = '3';
constexpr char kS5 = '5';
constexpr char kS6 = '6';

bool is_data_record(const char* text) {
  return text[0] == kMark && (text[kTypePos] == kS1 || text[kTypePos] == kDataType || text[kTypePos] == kS3);
}

// The record lines the download takes from a command file.
bool is_read_record(const char* text) {
  if (text[0] != kMark) return false;
  const char type = text[kTypePos];
  return type == kDataType || type == kTerminationType;
}

// Under "old" the records go as text: no "Packing..." line.
bool packs_records() { return loader_state().olds24 == 0; }

std::string where_text(const Place& where) { return where.file + " line " + std::to_string(where.line); }

// What the "Bad format" line can't say: which line of which file, and for a checksum the two values.
void leave_detail(const srecord::Parsed& p, const Place& where) {
  if (p.fault == srecord::Fault::Checksum)
    set_error_detail(where_text(where) + ": the record states checksum " + hex_byte(p.record.stated_checksum) +
                     ", its bytes give " + hex_byte(p.record.computed_checksum) +
                     " (--ignore-checksums takes a file whose checksums were never right)");
  else if (p.fault == srecord::Fault::TrailingText)
    set_error_detail(where_text(where) + ": the line holds more than the " +
                     std::to_string(p.record.address_bytes + p.record.data_size + 1) + " pairs its count states");
}

[[noreturn]] void refuse_line(const Place& where, const std::string& why) {
  const std::string text = line_refusal(where.line, where.file, why);
  mprintf("%s\n", text.c_str());
  finish(ExitCode::FileFailed);
}

}  // namespace

void bad_format(const char* rest) {
  mprintf("Bad format:%s\n", rest);
  finish(ExitCode::FileFailed);
}

// The record as read_record takes it, or its fault. The bound is checked before the checksum: data past
// the address space is refused at its count pair whatever the checksum says.
srecord::Parsed checked_record(const char* line) {
  srecord::Parsed p = srecord::parse_line(line, false);
  if (p.fault != srecord::Fault::None) return p;
  if (std::uint64_t{p.record.address} + p.record.data_size > kAddressSpace) {
    p.fault = srecord::Fault::ShortCount;  // the count runs past the address space
    p.bad_at = kCountPos;
    return p;
  }
  if (!loader_state().ignore_checksums) p = srecord::parse_line(line, true);
  return p;
}

srecord::Record read_record(const char* line, const Place& where) {
  const srecord::Parsed p = checked_record(line);
  if (p.fault != srecord::Fault::None) {
    leave_detail(p, where);
    bad_format(line + p.bad_at);
  }
  return p.record;
}

void FileCheck::line(const char* text, unsigned number) {
  const Place where{file_, number};
  if (is_read_record(text)) {
    // A packed download shows a bad record on its "Packing..." line: a file refused whole reads the same.
    if (packs_records() && checked_record(text).fault != srecord::Fault::None) mprintf("\rPacking...");
    static_cast<void>(read_record(text, where));
  }
  if (is_data_record(text)) ++data_records_;
  if (is_record(text, kS5) || is_record(text, kS6)) count_record(text, where);
}

// A count record states how many data records came before it; one that disagrees means records were
// lost or added since the file was written.
void FileCheck::count_record(const char* text, const Place& where) {
  const srecord::Parsed p = srecord::parse_line(text, !loader_state().ignore_checksums);
  if (p.fault != srecord::Fault::None) {
    leave_detail(p, where);
    bad_format(text + p.bad_at);
  }
  if (p.record.address == data_records_) return;
  refuse_line(where, "counts " + std::to_string(p.record.address) + " data records, the file holds " +
                         std::to_string(data_records_) + " before it");
}

std::uint32_t declared_data_bytes(const char* line) {
  if (line[0] != kMark || line[kTypePos] != kDataType || !line[kCountPos]) return 0;
  const int pair = pair_at(line + kCountPos);
  if (pair < 0) return 0;
  const auto count = static_cast<unsigned>(pair);
  const unsigned overhead = static_cast<unsigned>(kAddressBytes) + 1;  // and the checksum byte
  return count < overhead ? 0 : count - overhead;
}

FileSurvey survey_file(CheckedFile& file) {
  FileSurvey survey;
  if (!file.regular()) return survey;
  file.start_check();
  LineReader reader(file);
  FileCheck check(file.name());
  LineReader::Line line;
  while (reader.next(line)) {
    check.line(line.text, line.number);
    survey.declared_bytes += declared_data_bytes(line.text);
  }
  survey.lines = static_cast<int>(reader.line_feeds());
  file.end_check();
  survey.checked = true;
  return survey;
}

}  // namespace vx::record
