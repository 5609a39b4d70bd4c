#include "console/outcome.h"

#include <algorithm>

#include "console/console.h"
#include "console/state.h"

namespace vx {
namespace {

constexpr const char* kMessageStarts[] = {"Error", "Bad format", "Wrong settings", "Target didn't respond"};

std::string without_trailing_blanks(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

// The console breaks a line at its 80th column; a run of blanks that reaches a break fills the row up
// to it (and indents the next), which is layout, not message. A single blank there is the space
// between two words and stays.
std::string without_break_filler(const std::string& line) {
  constexpr std::size_t kColumns = kConsoleColumns;
  std::string out;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t run_end = line[at] == ' ' ? line.find_first_not_of(' ', at) : at + 1;
    const std::size_t end = run_end == std::string::npos ? line.size() : run_end;
    const bool filler = line[at] == ' ' && end - at > 1 && at / kColumns != end / kColumns;
    if (!filler) out.append(line, at, end - at);
    at = end;
  }
  return out;
}

}  // namespace

void ErrorLineWatch::putc(char c) {
  if (c == '\n') {
    last_completed_ = current_;
    current_.clear();
  } else if (c == '\r') {
    current_.clear();
  } else {
    current_ += c;
  }
}

std::string ErrorLineWatch::error_text() const {
  const std::string line = without_break_filler(last_completed_);
  std::size_t from = std::string::npos;
  for (const char* start : kMessageStarts) from = std::min(from, line.find(start));
  return without_trailing_blanks(from == std::string::npos ? line : line.substr(from));
}

// Part of the console's state, the loader's thread's: the session reads it on that thread after the run.
void set_error_detail(const std::string& detail, bool already_said) {
  console().state.error_detail = detail;
  console().state.error_detail_said = already_said;
}

std::string error_detail() { return console().state.error_detail; }

bool error_detail_said() { return console().state.error_detail_said; }

void clear_error_detail() { set_error_detail(std::string()); }

}  // namespace vx
