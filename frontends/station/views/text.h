// Small text helpers the station's parsers share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vx::station {

// The pieces of `text` between the separators; "" gives one empty piece.
std::vector<std::string> split(std::string_view text, char separator);

std::string to_lower(std::string_view text);

// The last component of a path ("/dev/ttyUSB0" -> "ttyUSB0").
std::string last_component(std::string_view path);

// printf into a string.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `text` as one tidy line for the screen: control characters (an escape sequence from a board's answer,
// a line break) shown as '?', so it can't move the terminal's cursor or break a line, and runs of blanks
// (a console line padded to its 80 columns) cut to one, none at either end.
std::string printable(std::string_view text);

// `text` with every run of blanks cut to one and none at either end: a console line padded to its 80
// columns, as a record keeps it. Other characters stay as they are.
std::string tidied(std::string_view text);

// `text` cut to `width` characters by taking out its middle (marked '~'): the start and, mostly, the
// end stay, where a port's by-id name keeps the serial number's end and the interface.
std::string middle_shortened(std::string_view text, std::size_t width);

constexpr std::string_view kUnicodeReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// `text` with every byte that isn't part of a well-formed UTF-8 sequence replaced by U+FFFD.
std::string utf8_repaired(std::string_view text);

// `text` cut or padded with blanks to exactly `width` characters.
std::string fitted(std::string_view text, std::size_t width);

// `text` made safe as a file name: '/' and control characters become '_', a leading '.' too.
std::string file_name_safe(std::string_view text);

}  // namespace vx::station
