// What the terminal front-end prints from the console's characters.
//
// Live (standard output is a terminal): completed lines scroll up, the line being written is redrawn
// in place (at most every 40 ms, and always when a line completes or the run ends), with the command
// file's progress at its right. Log (a pipe or a file): each console line is written once, when a
// line feed or the 80-column break completes it, trailing blanks removed; a carriage return discards
// the line being written; a break-completed line of blanks is left out; the last line is written at
// the end with a line feed.
#pragma once

#include <cstdio>
#include <string>

#include "console/lineview.h"
#include "console/progress.h"
#include "console/clock.h"

namespace vx {

class TerminalPrinter : public ProgressView {
 public:
  TerminalPrinter(std::FILE* out, bool live, const Clock& clock = steady_clock(), int columns = 80);
  void putc(char c);
  void end();

  void show(const std::string& file_name) override;
  void set_position(int percent) override;
  void hide() override;

 private:
  void print_completed(const LineView::Line& line);
  void redraw_current(bool force);
  std::string status() const;

  std::FILE* out_;
  bool live_;
  const Clock& clock_;
  int columns_;
  LineView view_;
  Micros last_redraw_{Millis(-1000)};
  bool progress_shown_ = false;
  std::string progress_file_;
  int progress_percent_ = 0;
};

// The width of the terminal on `out`, or `fallback` when it is not a terminal.
int terminal_columns(std::FILE* out, int fallback);

}  // namespace vx
