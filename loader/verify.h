// "@verify<file": read back what an S-record file puts into the board's memory and compare.
//
// The file is read once, a line at a time, and checked as it is read, so memory stays bounded by the
// largest record however long the file is (a file that never ends, /dev/zero, is refused at its first
// line by the line reader). The data records (S1, S2, S3 within the 24-bit address space, and S8 with
// data, as the download has always taken it) are gathered into a run of consecutive addresses of at
// most kVerifyRun bytes; a record that goes on where the run ends extends it, one that overlaps it
// writes over it (the later record wins, as in a download), and any other hands the run on to be read
// back and compared, then starts the next. A run that fills is handed on at kVerifyRun, a multiple of
// the read telegram's 64 bytes, so the telegrams of a long contiguous file are those of one range.
//
// So ranges are read back in file order, and a record that writes over bytes of a run already handed on
// (more than kVerifyRun bytes of records back) is not seen by that run: the board then holds the later
// value and the earlier run reports the difference. A file without a data record checks nothing, which
// is an error, not "Verified 0 bytes.".
//
// The command itself, verify (loader.h), lives with the other memory commands (memcmd.cpp), whose read
// loop it shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "loader/record_head.h"

namespace vx {

inline constexpr std::size_t kVerifyRun = 4096;

struct ExpectedRun {
  std::uint32_t start = 0;
  std::vector<std::uint8_t> bytes;  // the bytes expected from start on
};

class ExpectedRuns {
 public:
  using Check = std::function<void(const ExpectedRun&)>;
  explicit ExpectedRuns(Check check) : check_(std::move(check)) {}

  void put(std::uint32_t address, std::uint8_t value);
  // Hands on the run being gathered, if any.
  void flush();
  std::size_t handed_on() const { return handed_on_; }  // bytes handed on so far

 private:
  Check check_;
  ExpectedRun run_;
  std::size_t handed_on_ = 0;
};

// One line of an S-record file, line `where` names. Data records add their bytes; any other line is
// ignored. A record is read as the download reads it (loader/record_head.h) and fails the same way:
// "Bad format" (exit code 3).
void add_record_line(ExpectedRuns& runs, const char* line, const record::Place& where);

}  // namespace vx
