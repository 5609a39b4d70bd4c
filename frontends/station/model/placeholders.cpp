#include "frontends/station/model/placeholders.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "frontends/station/model/units.h"

namespace vx::station {

namespace {

constexpr std::array<std::string_view, 3> kPlaceholders{"{port}", "{name}", "{index}"};

bool is_name_character(char c) { return std::islower(static_cast<unsigned char>(c)) || c == '.'; }

// The {word} at `at` (which holds '{'): its length with both braces, 0 when it isn't one. A word is
// lower-case letters (and dots, as in {unit.bin}), optionally a ':' and a format of letters and digits.
std::size_t word_length(const std::string& text, std::size_t at) {
  std::size_t end = at + 1;
  while (end < text.size() && is_name_character(text[end])) ++end;
  if (end == at + 1) return 0;
  if (end < text.size() && text[end] == ':') {
    const std::size_t format = ++end;
    while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
    if (end == format) return 0;
  }
  return end < text.size() && text[end] == '}' ? end - at + 1 : 0;
}

// {port}, {name} or {index}: known as soon as the board is.
bool is_board_placeholder(std::string_view word) {
  return std::find(kPlaceholders.begin(), kPlaceholders.end(), word) != kPlaceholders.end();
}

bool is_placeholder(std::string_view word) {
  return is_board_placeholder(word) || is_unit_placeholder(std::string(word));
}

std::string value_of(std::string_view placeholder, const PlaceholderValues& values) {
  if (placeholder == "{port}") return values.port;
  if (placeholder == "{name}") return values.name;
  return std::to_string(values.index);
}

}  // namespace

std::string replace_placeholders(const std::string& argument, const PlaceholderValues& values) {
  std::string replaced;
  for (std::size_t at = 0; at < argument.size();) {
    std::size_t length = argument[at] == '{' ? word_length(argument, at) : 0;
    std::string_view word = std::string_view(argument).substr(at, length);
    if (length > 0 && is_board_placeholder(word)) {
      replaced += value_of(word, values);
      at += length;
    } else {
      replaced += argument[at++];
    }
  }
  return replaced;
}

std::vector<std::string> replace_placeholders(const std::vector<std::string>& arguments,
                                              const PlaceholderValues& values) {
  std::vector<std::string> replaced;
  for (const std::string& argument : arguments) replaced.push_back(replace_placeholders(argument, values));
  return replaced;
}

std::string unknown_placeholder(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    for (std::size_t at = argument.find('{'); at != std::string::npos; at = argument.find('{', at + 1)) {
      std::size_t length = word_length(argument, at);
      std::string word = argument.substr(at, length);
      if (length > 0 && !is_placeholder(word)) return word;
    }
  }
  return {};
}

}  // namespace vx::station
