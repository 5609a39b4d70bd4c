#include "console/lineview.h"

namespace vx {
namespace {
constexpr char LF = 10;
constexpr char CR = 13;
constexpr int kBreakAfter = 80;
}  // namespace

void LineView::store(char c, Ended how) {
  if (c == LF) {
    completed_.push_back(Line{current_, how});
    current_.clear();
  } else {
    current_.push_back(c);
  }
  ++linechar_;
}

bool LineView::putc(char a) {
  const std::size_t before = completed_.size();
  erased_ = false;
  if (a == LF) linechar_ = 0;
  if (linechar_ > kBreakAfter) {
    linechar_ = 0;
    store(LF, Ended::Wrap);
  }
  if (a == CR) {
    current_.clear();
    linechar_ = 0;
    erased_ = true;
  } else {
    store(a, Ended::LineFeed);
  }
  return completed_.size() != before;
}

void LineView::write(const std::string& s) {
  for (char c : s) putc(c);
}

std::string rtrim_blanks(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::vector<std::string> LineView::log_lines() const {
  std::vector<std::string> out;
  auto add = [&](const std::string& text) {
    std::string t = rtrim_blanks(text);
    if (!t.empty()) out.push_back(std::move(t));
  };
  for (const auto& line : completed_) add(line.text);
  add(current_);
  return out;
}

}  // namespace vx
