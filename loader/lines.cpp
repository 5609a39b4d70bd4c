#include "loader/lines.h"

#include <cstring>
#include <string>

#include "console/finish.h"
#include "console/messages.h"
#include "console/mprintf.h"
#include "protocol/record.h"

namespace vx {

namespace {

using record::kByteOrderMark;
constexpr int kCtrlZ = 0x1A;
constexpr int kCarriageReturn = '\r';
constexpr int kLineFeed = '\n';
constexpr int kNothingHeld = -2;
constexpr signed char kSpace = 0x20;
constexpr char kComment = ';';

// A line the interpreter skips without looking further than its first character (a comment, or a
// blank line: a blank, a control character or a byte from 0x80 up, taken as signed).
bool skipped_whole(char first) { return first == kComment || static_cast<signed char>(first) <= kSpace; }

}  // namespace

LineReader::LineReader(const char* name)
    : owned_(std::make_unique<CheckedFile>(name)), file_(owned_.get()), held_(kNothingHeld) {
  refuse_endless_device(*file_);
}

LineReader::LineReader(CheckedFile& file) : file_(&file), held_(kNothingHeld) { refuse_endless_device(file); }

// A device that is not a terminal (/dev/zero, /dev/urandom, a serial port) has no lines to run, and
// never ends: refused at once rather than read until something in it happens to stop the run. A
// terminal (typed commands) and a FIFO (a script feeding the run) are read as files are.
void LineReader::refuse_endless_device(const CheckedFile& file) {
  if (!file.endless_device()) return;
  const std::string text = "Error: " + file.name() + " is a device, not a file of lines.";
  mprintf("%s\n", text.c_str());
  finish(ExitCode::FileFailed);
}

bool LineReader::next(Line& line) {
  if (at_line_start_) skip_byte_order_mark();
  const std::size_t n = read_piece();
  if (n == 0) return false;
  ++number_;
  if (n == kMaxFileLine && line_[n - 1] != kLineFeed) step_over_overflow();
  if (std::memchr(line_.data(), '\0', n)) refuse_line("holds a NUL byte");
  line = Line{line_.data(), n, number_};
  return true;
}

// Up to kMaxFileLine characters, up to and with a line feed; 0 at the end of the file.
std::size_t LineReader::read_piece() {
  std::size_t n = 0;
  while (n < kMaxFileLine) {
    const int c = next_char();
    if (c == EOF) break;
    line_[n++] = static_cast<char>(c);
    if (c == kLineFeed) {
      at_line_start_ = true;
      break;
    }
  }
  line_[n] = '\0';
  return n;
}

// The buffer is full without a line feed. At the end of the file the line fits exactly; otherwise its
// line feed, at least, did not fit: the line is refused, or, when it is skipped anyway, read to its end
// and never handed on (a zero byte in the tail is refused all the same).
void LineReader::step_over_overflow() {
  int c = next_char();
  if (c != EOF && !skipped_whole(line_[0])) refuse_line(image::overlong_line_reason());
  for (; c != EOF && c != kLineFeed; c = next_char())
    if (c == 0) refuse_line("holds a NUL byte");
  at_line_start_ = true;
}

void LineReader::refuse_line(const std::string& why) const {
  const std::string text = line_refusal(number_, name(), why);
  mprintf("%s\n", text.c_str());
  finish(ExitCode::FileFailed);
}

// A line may begin with the mark (a file saved with one, joined to another with cat): read ahead
// until the mark's length is in (a FIFO may hand on less at a time, and the buffer may end inside it),
// then step over it. Only as many bytes as the mark has are asked for, so a terminal is not read ahead.
void LineReader::skip_byte_order_mark() {
  at_line_start_ = false;
  if (held_ != kNothingHeld || ended_) return;
  if (len_ - pos_ < sizeof kByteOrderMark) {
    std::memmove(buf_.data(), buf_.data() + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
  }
  while (file_ && len_ < sizeof kByteOrderMark) {
    const std::size_t got = file_->read(buffer_end(), sizeof kByteOrderMark - len_);
    if (got == 0) break;
    len_ += got;
  }
  if (record::starts_with_byte_order_mark(reinterpret_cast<const std::uint8_t*>(buf_.data()) + pos_, len_ - pos_))
    pos_ += sizeof kByteOrderMark;
}

void LineReader::close() {
  file_ = nullptr;
  owned_.reset();
}

int LineReader::raw() {
  if (pos_ == len_) {
    pos_ = len_ = 0;
    len_ = file_ ? file_->read(buffer_end(), buf_.size()) : 0;
    if (len_ == 0) return EOF;
  }
  const auto c = static_cast<unsigned char>(buf_[pos_++]);
  if (c == kLineFeed) ++line_feeds_;
  return c;
}

// One character as text mode hands it on: CR LF as LF, EOF from a Ctrl-Z on.
int LineReader::next_char() {
  if (ended_) return EOF;
  const int c = held_ != kNothingHeld ? held_ : raw();
  held_ = kNothingHeld;
  if (c == EOF || c == kCtrlZ) {
    ended_ = true;
    return EOF;
  }
  if (c != kCarriageReturn) return c;
  const int after = raw();
  if (after == kLineFeed) return kLineFeed;
  held_ = after;
  return c;
}

}  // namespace vx
