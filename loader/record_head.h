// Reading S-record lines for the download and @verify. Every record line the loader packs or compares is
// read whole through protocol/srecord.h before anything of it is used: a pair that is no hexadecimal
// pair, a count that can't cover the address and checksum or disagrees with the pairs the line holds,
// data past the 24-bit address space, or a checksum that is not the checksum of the record's bytes all
// end the run with "Bad format:%s\n" (the rest of the line from the failing pair on), exit code 3, and a
// detail for standard error naming the file, the line and, for a checksum, both values. A checksum is
// not checked when the run was asked to ignore checksums (hand-made files whose checksums were never
// right); every other rule stays.
//
// A command file that is a regular file is checked whole when it is opened, in the one pass that counts
// its lines and data bytes for the progress and makes its digest for the run's record (the check pass of
// loader/checked_file.h): its record lines as above, a count record (S5, S6) against the data records
// before it, and, through the line reader, its line lengths and NUL bytes. So a bad file sends nothing
// of itself, and the lines the run then carries out are the ones checked. A FIFO or a terminal can be
// read only once: its lines are checked as they are read (FileCheck, line by line).
#pragma once

#include <cstdint>
#include <string>

#include "console/progress.h"
#include "loader/checked_file.h"
#include "protocol/record.h"
#include "protocol/srecord.h"

namespace vx::record {

[[noreturn]] void bad_format(const char* rest);

// Where a line stands, for the detail on standard error.
struct Place {
  std::string file;
  unsigned line = 0;
};

// The record of an S-record line, or the end of the run as above. The line's type decides its address
// bytes; the data must end inside the 24-bit address space.
srecord::Record read_record(const char* line, const Place& where);

// The checks of one file, a line at a time: its record lines, and each count record (S5, S6) against
// the number of data records (S1, S2, S3) before it in the file. A count record that disagrees ends the
// run: "Error: Line N of NAME counts X data records, the file holds Y before it." (exit code 3).
class FileCheck {
 public:
  explicit FileCheck(std::string file) : file_(std::move(file)) {}
  void line(const char* text, unsigned number);

 private:
  void count_record(const char* text, const Place& where);
  std::string file_;
  std::uint32_t data_records_ = 0;
};

// For the progress only: the data bytes an S2 record's count declares, 0 for any other line or a count
// that can't be read.
std::uint32_t declared_data_bytes(const char* line);

// A regular file is read whole in its check pass before its first line is acted on: every line through
// the line reader and FileCheck (any fault ends the run as above), its line feeds counted and the declared
// data bytes summed for the progress; the file then stands at its start for the run's reading. Any
// other file (a FIFO, a terminal) is left unread: `checked` false, its lines to be checked as they are
// read, their count unknown.
struct FileSurvey {
  bool checked = false;
  int lines = kUnknownCount;
  std::int64_t declared_bytes = 0;
};
FileSurvey survey_file(CheckedFile& file);

}  // namespace vx::record
