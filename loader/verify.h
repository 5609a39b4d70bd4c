// "@verify<file": read back what a firmware file puts into the board's memory and compare.
//
// The file is read as "@load" reads it (loader/firmware_file.h: every format, the same whole-file checks,
// an image bounded by the 16 MiB address space however large the file), with one difference of policy:
// where two records give one address different bytes, "@load" refuses the file, while "@verify" takes the
// later record's bytes, wherever in the file it stands, since a download of the records one after
// another leaves those on the board. So "@verify<FILE" checks exactly what "@load<FILE" writes, and what
// a command file of the same records leaves.
//
// The image's bytes go in address order into runs of consecutive addresses of at most kVerifyRun bytes;
// a run is handed on to be read back and compared when the next byte does not go on where it ends, or
// when it is full (kVerifyRun is a multiple of the read telegram's 64 bytes, so the telegrams of a long
// contiguous image are those of one range). A file without data checks nothing, which is an error, not
// "Verified 0 bytes.".
//
// The command itself, verify (loader.h), lives with the other memory commands (memcmd.cpp), whose read
// loop it shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "protocol/image.h"

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

  // The next byte; addresses come in ascending order.
  void put(std::uint32_t address, std::uint8_t value);
  // Hands on the run being gathered, if any.
  void flush();
  std::size_t handed_on() const { return handed_on_; }  // bytes handed on so far

 private:
  Check check_;
  ExpectedRun run_;
  std::size_t handed_on_ = 0;
};

// Every byte of the image, in address order, then the last run handed on.
void add_image(ExpectedRuns& runs, const image::Image& image);

}  // namespace vx
