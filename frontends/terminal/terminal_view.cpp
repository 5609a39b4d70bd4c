#include "frontends/terminal/terminal_view.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console/diag.h"
#include "frontends/terminal/progress_text.h"

namespace vx {
namespace {
constexpr Millis kRedrawInterval{40};
constexpr char kEraseToEnd[] = "\x1b[K";
}  // namespace

TerminalPrinter::TerminalPrinter(std::FILE* out, bool live, const Clock& clock, int columns)
    : out_(out), live_(live), clock_(clock), columns_(std::max(columns, 20)) {}

void TerminalPrinter::flush() {
  if (std::fflush(out_) == 0 && !std::ferror(out_)) return;
  closed_ = true;
  diagnostic("can't write the console to standard output: " + std::string(std::strerror(errno)) +
             "; the run goes on without it");
}

void TerminalPrinter::putc(char c) {
  if (closed_) return;
  if (view_.putc(c)) {
    print_completed(view_.last_completed());
    view_.forget_completed();
    if (live_) redraw_current(true);
  } else if (live_) {
    redraw_current(false);
  }
}

void TerminalPrinter::print_completed(const LineView::Line& line) {
  std::string text = rtrim_blanks(line.text);
  if (line.how == LineView::Ended::Wrap && text.empty()) return;
  if (live_) std::fputs("\r", out_);
  std::fputs(text.c_str(), out_);
  if (live_) std::fputs(kEraseToEnd, out_);
  std::fputc('\n', out_);
  flush();
}

// The fullest tail that fits in `room`; none when nothing fits.
std::string TerminalPrinter::status(std::size_t room) const {
  std::vector<std::string> tails;
  if (transfer_ && transfer_->total > 0)
    tails = status_tails(*transfer_);
  else if (progress_shown_)
    tails = {"  [" + progress_file_ + " " + std::to_string(std::min(progress_percent_, 100)) + "%]"};
  for (const std::string& tail : tails)
    if (tail.size() <= room) return tail;
  return {};
}

void TerminalPrinter::redraw_current(bool force) {
  const Micros now = clock_.now();
  if (!force && now - last_redraw_ < kRedrawInterval) return;
  last_redraw_ = now;
  std::string line = rtrim_blanks(view_.current());
  const std::size_t room = static_cast<std::size_t>(columns_ - 1);
  if (line.size() > room) line.resize(room);
  const std::string tail = status(room - line.size());
  std::fprintf(out_, "\r%s%s%s", line.c_str(), tail.c_str(), kEraseToEnd);
  flush();
}

void TerminalPrinter::end() {
  progress_shown_ = false;
  transfer_.reset();
  if (closed_) return;
  if (live_) {
    redraw_current(true);
  } else {
    std::fputs(rtrim_blanks(view_.current()).c_str(), out_);
  }
  std::fputc('\n', out_);
  flush();
}

void TerminalPrinter::show(const std::string& file_name) {
  progress_shown_ = true;
  progress_file_ = file_name;
  progress_percent_ = 0;
}

void TerminalPrinter::set_position(int percent) {
  progress_percent_ = percent;
  if (live_ && !closed_) redraw_current(false);
}

void TerminalPrinter::phase_started(Phase, const std::string&) { transfer_.reset(); }

void TerminalPrinter::progress(const TransferProgress& p) {
  transfer_ = p;
  if (live_ && !closed_) redraw_current(p.done >= p.total);
}

void TerminalPrinter::transfer_ended() {
  transfer_.reset();
  if (live_ && !closed_) redraw_current(true);
}

void TerminalPrinter::hide() {
  progress_shown_ = false;
  if (live_ && !closed_) redraw_current(true);
}

}  // namespace vx
