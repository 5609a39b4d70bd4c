#include "loader/lines.h"

#include "console/finish.h"
#include "console/mprintf.h"

namespace vx {

namespace {

constexpr int kFileExit = 3;
constexpr int kCtrlZ = 0x1A;
constexpr int kCarriageReturn = '\r';
constexpr int kLineFeed = '\n';
constexpr int kNothingHeld = -2;

}  // namespace

LineReader::LineReader(const char* name) : name_(name), f_(std::fopen(name, "rb")), held_(kNothingHeld) {
  if (f_) return;
  mprintf("Error: Can't open file %s \n", name);
  finish(kFileExit);
}

bool LineReader::next(Line& line) {
  std::size_t n = 0;
  while (n < kMaxFileLine) {
    const int c = next_char();
    if (c == EOF) break;
    line_[n++] = static_cast<char>(c);
    if (c == kLineFeed) break;
  }
  line_[n] = '\0';
  if (failed_) {
    mprintf("Error: Can't read file %s \n", name_.c_str());
    finish(kFileExit);
  }
  if (n == 0) return false;
  line = Line{line_.data(), n, ++number_};
  return true;
}

void LineReader::close() {
  if (f_) static_cast<void>(std::fclose(f_));
  f_ = nullptr;
}

int LineReader::raw() {
  if (pos_ == len_) {
    len_ = f_ ? std::fread(buf_.data(), 1, buf_.size(), f_) : 0;
    pos_ = 0;
    if (len_ == 0) {
      failed_ = f_ && std::ferror(f_) != 0;
      return EOF;
    }
  }
  return static_cast<unsigned char>(buf_[pos_++]);
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
