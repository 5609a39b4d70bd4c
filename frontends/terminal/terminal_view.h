// What the terminal front-end prints from the console's characters.
//
// Live (standard output is a terminal): completed lines scroll up, the line being written is redrawn
// in place (at most every 40 ms, and always when a line completes or the run ends), with the progress
// at its right: for a transfer with a byte count (a download's S2 data, a memory command's range) the
// bytes done of the total, the rate and the time left, as much of that as fits beside the console's
// text (which is never cut for it); for a command file without data its name and line percentage. Log (a pipe or a
// file): each console line is written once, when a line feed or the 80-column break completes it, trailing blanks
// removed; a carriage return discards the line being written; a break-completed line of blanks is left out; the last
// line is written at the end with a line feed. Output that can't be written (a pipe whose reader is gone: `vexal job |
// head -3`) is said once on the diagnostic channel and nothing more is written to it; the run itself goes on to its
// end.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "console/lineview.h"
#include "console/progress.h"
#include "console/clock.h"
#include "console/transfer.h"

namespace vx {

class TerminalPrinter : public ProgressView, public TransferView {
 public:
  TerminalPrinter(std::FILE* out, bool live, const Clock& clock = steady_clock(), int columns = 80);
  void putc(char c);
  void end();

  void show(const std::string& file_name) override;
  void set_position(int percent) override;
  void hide() override;

  void phase_started(Phase phase, const std::string& file) override;
  void progress(const TransferProgress& p) override;
  void transfer_ended() override;

 private:
  void print_completed(const LineView::Line& line);
  void flush();  // notes the first failed write, and stops writing
  void redraw_current(bool force);
  std::string status(std::size_t room) const;

  std::FILE* out_;
  bool live_;
  const Clock& clock_;
  int columns_;
  bool closed_ = false;  // a write failed: nothing more goes out
  LineView view_;
  Micros last_redraw_{Millis(-1000)};
  bool progress_shown_ = false;
  std::string progress_file_;
  int progress_percent_ = 0;
  std::optional<TransferProgress> transfer_;  // the innermost transfer once it has moved bytes
};

// The width of the terminal on `out`, or `fallback` when it is not a terminal.
int terminal_columns(std::FILE* out, int fallback);

}  // namespace vx
