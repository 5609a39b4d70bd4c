// The console seen as lines: the same line feed, carriage return and 80/81-column rules as li_putc,
// but keeping every completed line instead of a ring. The terminal front-end prints from it, and tests
// read a run's whole output from it.
#pragma once

#include <string>
#include <vector>

namespace vx {

class LineView {
 public:
  enum class Ended { LineFeed, Wrap };
  struct Line {
    std::string text;
    Ended how;
  };

  // Feeds one character; returns true when it completed a line (then last_completed() is it).
  bool putc(char a);
  void write(const std::string& s);

  const std::vector<Line>& completed() const { return completed_; }
  const Line& last_completed() const { return completed_.back(); }
  const std::string& current() const { return current_; }
  // True when the last character fed was a carriage return, which erased the current line.
  bool current_was_erased() const { return erased_; }

  // Completed lines and the current one, trailing blanks removed, blank lines dropped: a run's log.
  std::vector<std::string> log_lines() const;

  // Keep only the current line (a long run's completed lines are not needed by a live terminal).
  void forget_completed() { completed_.clear(); }

 private:
  void store(char c, Ended how);
  int linechar_ = 0;
  std::string current_;
  std::vector<Line> completed_;
  bool erased_ = false;
};

std::string rtrim_blanks(std::string s);

}  // namespace vx
