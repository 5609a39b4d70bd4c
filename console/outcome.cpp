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

const char* exit_code_meaning(int code) {
  switch (code) {
    case 0: return "done";
    case 1: return "the arguments were refused";
    case 2: return "the port could not be opened or set up";
    case 3: return "a file could not be read or written, or a record is malformed";
    case 4: return "the board did not answer, or refused a block";
    case 5: return "no response from the board, or an answer nobody asked for";
    case 6: return "a negative answer to a command file's line";
    case 7: return "a negative or missing answer";
    case 8: return "a conditional line without its closing '!'";
    case 9: return "a memory command failed, or the memory differs";
    default: return "the run was ended";
  }
}

}  // namespace vx
