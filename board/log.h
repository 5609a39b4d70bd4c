// The line log (--log): one line per frame in or out, rejected input and noise, for tests and bug reports.
//
//   <ms since start, 3 decimals> <dir> <bytes as spaced hex>[  | <note>]
//
// dir is "in" (a request frame), "out" (an answer or a part of one), "rej" (input bytes the receiver threw
// away), "noise" (noise sent before an answer), "garbage" (text sent in place of an answer), "drop" (an
// answer the board did not send) or "note" (an event without bytes). The note says what the board made of a request,
// the answer text and any fault. Texts are quoted by the same rule as the loader's trace (protocol/text.h), so a trace
// line and a log line of one frame show the same bytes and the same text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "board/transmitter.h"

namespace vx::board {

class Log {
 public:
  using Sink = std::function<void(const std::string& line)>;

  Log() = default;  // logs nothing
  explicit Log(Sink sink) : sink_(std::move(sink)) {}

  void bytes(Micros t, std::string_view dir, const Bytes& line_bytes, std::string_view note = {}) const;
  void note(Micros t, std::string_view text) const;

 private:
  Sink sink_;
};

std::string format_log_line(Micros t, std::string_view dir, const Bytes& line_bytes, std::string_view note);

}  // namespace vx::board
