#include "board/log.h"

#include <cstdio>

#include "protocol/hex.h"

namespace vx::board {

std::string format_log_line(Micros t, std::string_view dir, const Bytes& line_bytes, std::string_view note) {
  char head[48];
  std::snprintf(head, sizeof head, "%10.3f %-5.*s", static_cast<double>(t.count()) / 1000.0,
                static_cast<int>(dir.size()), dir.data());
  std::string line = head;
  if (!line_bytes.empty()) line.append(" ").append(hex_pairs(line_bytes.data(), line_bytes.size(), " "));
  if (!note.empty()) {
    line += "  | ";
    line += note;
  }
  return line;
}

void Log::bytes(Micros t, std::string_view dir, const Bytes& line_bytes, std::string_view note) const {
  if (sink_) sink_(format_log_line(t, dir, line_bytes, note));
}

void Log::note(Micros t, std::string_view text) const {
  if (sink_) sink_(format_log_line(t, "note", {}, text));
}

}  // namespace vx::board
