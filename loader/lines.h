// Text files a line at a time: the reader of command files, nested ones included. (Firmware files, for
// "@load" and "@verify", are read by loader/firmware_file.h; both refuse a record line longer than
// this reader takes, image::kMaxSRecordLine.)
//
// It reads as a Windows text-mode read does, so a file written on either system reads the same: a CR
// LF pair comes in as one line feed (a lone CR stays as it is) and a Ctrl-Z byte ends the file. A line
// keeps its line feed; the last line of a file may have none. A UTF-8 byte-order mark at the start of a
// line (editors write one at the start of a file, and files joined with cat carry it into the middle)
// is skipped, so it can't swallow the line.
//
// No line is half read or silently cut:
//  - a line that does not fit the interpreter's buffer (kMaxFileLine characters, its line feed counted)
//    ends the run with "Error: Line N of NAME is longer than 244 characters." (exit code 3; the number
//    is image::kMaxSRecordLine, the words image::overlong_line_reason's) before any
//    part of it is acted on; only a line that is skipped anyway (one beginning with ';', a blank, a
//    control character or a byte from 0x80) is read to its end and handed on cut, to be skipped whole;
//  - a line that holds a zero byte (anywhere, in place of its line feed too) ends the run with "Error:
//    Line N of NAME holds a NUL byte." (exit code 3): the interpreter reads a line as a C string, so
//    its tail would vanish unseen.
//
// A device that is not a terminal (/dev/zero, /dev/urandom) is refused when it is opened: "Error: NAME
// is a device, not a file of lines." (exit code 3); it would never end.
// The file is read through one open (loader/checked_file.h), which reports a file that can't be opened or
// read, heeds Ctrl-C in every wait, and for a checked file compares each piece with its check.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "loader/checked_file.h"
#include "protocol/firmware.h"

namespace vx {

inline constexpr int kMaxFileLine = static_cast<int>(image::kMaxSRecordLine) + 1;  // per read, the line feed included

class LineReader {
 public:
  struct Line {
    const char* text = "";  // zero-terminated; valid until the next read
    std::size_t length = 0;
    unsigned number = 0;  // from 1; every piece of a long line counts
  };

  // Opens the file, or ends the run.
  explicit LineReader(const char* name);
  // Reads the open file from where it stands; it must outlive the reader.
  explicit LineReader(CheckedFile& file);
  ~LineReader() { close(); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line into `line`; false at the end of the file. A read error ends the run.
  bool next(Line& line);
  const std::string& name() const { return file_->name(); }
  // The line feeds read so far, those of lines skipped whole included.
  unsigned line_feeds() const { return line_feeds_; }
  // Reading ends: a file the reader opened itself is closed.
  void close();

  // Ends the run when `file` is a device that would never end.
  static void refuse_endless_device(const CheckedFile& file);

 private:
  int raw();
  int next_char();
  void skip_byte_order_mark();
  std::size_t read_piece();
  void step_over_overflow();
  [[noreturn]] void refuse_line(const std::string& why) const;
  std::uint8_t* buffer_end() { return reinterpret_cast<std::uint8_t*>(buf_.data()) + len_; }

  static constexpr std::size_t kReadAhead = 4096;  // bytes asked of the file at a time

  std::unique_ptr<CheckedFile> owned_;
  CheckedFile* file_;
  std::array<char, kReadAhead> buf_{};
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  int held_;
  bool ended_ = false;
  bool at_line_start_ = true;
  unsigned number_ = 0;
  unsigned line_feeds_ = 0;
  std::array<char, kMaxFileLine + 1> line_{};
};

}  // namespace vx
