// Text files a line at a time: command files and the files "@verify" reads both go through this reader,
// so a file reads the same whichever of them takes it (a record the download refuses, @verify refuses).
//
// It reads as a Windows text-mode read does, so a file written on either system reads the same: a CR
// LF pair comes in as one line feed (a lone CR stays as it is) and a Ctrl-Z byte ends the file. A line
// keeps its line feed; the last line of a file may have none. A UTF-8 byte-order mark at the start of a
// line (editors write one at the start of a file, and files joined with cat carry it into the middle)
// is skipped, so it can't swallow the line.
//
// No line is half read or silently cut:
//  - a line that does not fit the interpreter's buffer (kMaxFileLine characters, its line feed counted)
//    ends the run with "Error: Line N of NAME is longer than 244 characters." (exit code 3) before any
//    part of it is acted on; only a line that is skipped anyway (one beginning with ';', a blank, a
//    control character or a byte from 0x80) is read to its end and handed on cut, to be skipped whole;
//  - a line that holds a zero byte (anywhere, in place of its line feed too) ends the run with "Error:
//    Line N of NAME holds a NUL byte." (exit code 3): the interpreter reads a line as a C string, so
//    its tail would vanish unseen.
//
// A device that is not a terminal (/dev/zero, /dev/urandom) is refused when it is opened: "Error: NAME
// is a device, not a file of lines." (exit code 3); it would never end.
// A file that can't be opened or read ends the run (exit code 3) with "Error: Can't open file %s \n" or
// "Error: Can't read file %s \n": a read error is never taken for the end of the file, which would report
// a partial job as a success.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>

namespace vx {

inline constexpr int kMaxFileLine = 245;  // characters per read, the line feed included

class LineReader {
 public:
  struct Line {
    const char* text = "";  // zero-terminated; valid until the next read
    std::size_t length = 0;
    unsigned number = 0;  // from 1; every piece of a long line counts
  };

  // Opens the file, or ends the run.
  explicit LineReader(const char* name);
  ~LineReader() { close(); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line into `line`; false at the end of the file. A read error ends the run.
  bool next(Line& line);
  const std::string& name() const { return name_; }
  // The file was only read: a failing close loses nothing, so its result is not acted on.
  void close();

 private:
  int raw();
  int next_char();
  void skip_byte_order_mark();
  std::size_t read_piece();
  void step_over_overflow();
  [[noreturn]] void refuse_line(const char* why) const;
  void refuse_failed_read() const;

  std::string name_;
  std::FILE* f_ = nullptr;
  std::array<char, 4096> buf_{};
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  int held_;
  bool ended_ = false;
  bool failed_ = false;
  bool at_line_start_ = true;
  unsigned number_ = 0;
  std::array<char, kMaxFileLine + 1> line_{};
};

}  // namespace vx
