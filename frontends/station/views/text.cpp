#include "frontends/station/views/text.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace vx::station {

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = text.find(separator, begin);
    pieces.emplace_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
    if (end == std::string_view::npos) return pieces;
    begin = end + 1;
  }
}

std::string to_lower(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered;
}

std::string last_component(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

std::string printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return tidied(shown);
}

std::string tidied(std::string_view text) {
  std::string tidy;
  for (char c : text) {
    if (c == ' ' && (tidy.empty() || tidy.back() == ' ')) continue;
    tidy += c;
  }
  if (!tidy.empty() && tidy.back() == ' ') tidy.pop_back();
  return tidy;
}

std::string middle_shortened(std::string_view text, std::size_t width) {
  if (text.size() <= width) return std::string(text);
  if (width < 3) return std::string(text.substr(text.size() - width));
  constexpr std::size_t kMostKept = 4;  // of the start: "usb-", the bus a by-id name is on
  const std::size_t head = std::min(kMostKept, width / 5);
  const std::size_t tail = width - head - 1;
  return std::string(text.substr(0, head)) + "~" + std::string(text.substr(text.size() - tail));
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when there is none.
std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, UTF-16 surrogates and code points above U+10FFFF are not well formed.
  const unsigned char second = byte(1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F))
    return 0;
  return length;
}

}  // namespace

std::string utf8_repaired(std::string_view text) {
  std::string repaired;
  while (!text.empty()) {
    std::size_t length = utf8_sequence_length(text);
    repaired += length == 0 ? kUnicodeReplacement : text.substr(0, length);
    text.remove_prefix(length == 0 ? 1 : length);
  }
  return repaired;
}

std::string fitted(std::string_view text, std::size_t width) {
  std::string fit(text.substr(0, width));
  fit.resize(width, ' ');
  return fit;
}

std::string file_name_safe(std::string_view text) {
  std::string safe(text);
  for (char& c : safe) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
  }
  if (!safe.empty() && safe.front() == '.') safe.front() = '_';
  return safe;
}

}  // namespace vx::station
