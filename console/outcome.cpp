#include "console/outcome.h"

#include <algorithm>

#include "console/state.h"

namespace vx {
namespace {

constexpr const char* kMessageStarts[] = {"Error", "Bad format", "Wrong settings", "Target didn't respond"};

std::string without_trailing_blanks(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
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
  std::size_t from = std::string::npos;
  for (const char* start : kMessageStarts) from = std::min(from, last_completed_.find(start));
  return without_trailing_blanks(from == std::string::npos ? last_completed_ : last_completed_.substr(from));
}

// Part of the console's state, the loader's thread's: the session reads it on that thread after the run.
void set_error_detail(const std::string& detail) { console().state.error_detail = detail; }

std::string error_detail() { return console().state.error_detail; }

void clear_error_detail() { set_error_detail(std::string()); }

}  // namespace vx
