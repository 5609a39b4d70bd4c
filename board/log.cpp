#include "board/log.h"

#include <cstdio>

namespace vx::board {

namespace {
constexpr char kFirstPrintable = 0x20;
constexpr char kLastPrintable = 0x7E;
}  // namespace

std::string format_log_line(Micros t, std::string_view dir, const Bytes& line_bytes, std::string_view note) {
  char head[48];
  std::snprintf(head, sizeof head, "%10.3f %-5.*s", static_cast<double>(t.count()) / 1000.0,
                static_cast<int>(dir.size()), dir.data());
  std::string line = head;
  char pair[4];
  for (std::uint8_t byte : line_bytes) {
    std::snprintf(pair, sizeof pair, " %02X", byte);
    line += pair;
  }
  if (!note.empty()) {
    line += "  | ";
    line += note;
  }
  return line;
}

std::string quoted(std::string_view text) {
  std::string s = "\"";
  char esc[8];
  for (char c : text) {
    switch (c) {
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      default:
        if (c >= kFirstPrintable && c <= kLastPrintable) {
          s += c;
        } else {
          std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(c));
          s += esc;
        }
    }
  }
  return s + "\"";
}

void Log::bytes(Micros t, std::string_view dir, const Bytes& line_bytes, std::string_view note) const {
  if (sink_) sink_(format_log_line(t, dir, line_bytes, note));
}

void Log::note(Micros t, std::string_view text) const {
  if (sink_) sink_(format_log_line(t, "note", {}, text));
}

}  // namespace vx::board
