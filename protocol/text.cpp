#include "protocol/text.h"

namespace vx {

namespace {

constexpr char kFirstPrintable = 0x20;
constexpr char kLastPrintable = 0x7E;
constexpr char kQuote = '"';
constexpr char kBackslash = '\\';
constexpr char kNotText = '?';

// The letter after the backslash for a byte that is escaped, 0 for one shown as it is, kNotText for
// one that keeps the text from being shown.
char escape_for(char c) {
  switch (c) {
    case '\n': return 'n';
    case '\r': return 'r';
    case '\t': return 't';
    case kQuote: return kQuote;
    case kBackslash: return kBackslash;
    default: return (c >= kFirstPrintable && c <= kLastPrintable) ? 0 : kNotText;
  }
}

}  // namespace

std::optional<std::string> quoted_text(std::string_view text) {
  std::string s(1, kQuote);
  for (char c : text) {
    const char e = escape_for(c);
    if (e == kNotText) return std::nullopt;
    if (e) s.push_back(kBackslash);
    s.push_back(e ? e : c);
  }
  s.push_back(kQuote);
  return s;
}

}  // namespace vx
