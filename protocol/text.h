// A frame's text as the loader's trace and the simulator's log show it, so that a trace line and a log
// line of the same frame can be laid side by side and read the same.
//
// The text stands in double quotes, with C's escapes for the line feed (\n), the carriage return (\r),
// the tab (\t), the quote (\") and the backslash (\\). A text holding any other byte outside printable
// ASCII (0x20..0x7E) is not shown as text at all: it is binary (a block telegram's payload, noise) or
// carries bytes a reader could not tell apart in print, and its bytes stand in hex on the same line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vx {

// The quoted text, or nothing when the text is not printable.
std::optional<std::string> quoted_text(std::string_view text);

}  // namespace vx
