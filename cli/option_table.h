// A program's command-line options as a table: each option's name, whether it takes a value, and what
// it does to the program's options (a function that returns "" or why the value is refused).
//
// apply_option() walks one argument: "--name" is looked up in the table; an option that takes a value
// takes it after '=' (--baud=9600) or as the next argument (--baud 9600); a flag refuses "=value". The
// texts of its refusals are the same for every program, so the simulator and the station word their
// usage errors alike. Header-only: the simulator (which sees only the protocol layer) and the station
// (which sees no layer) both build on it, and it builds on nothing but the standard library.
#pragma once

#include <charconv>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vx::cli {

// What an option does with its value (a flag's is ""): "" when it took it, else why not.
template <typename Target>
using Setter = std::function<std::string(Target&, const std::string&)>;

template <typename Target>
struct Option {
  bool takes_value;
  Setter<Target> apply;
};

// The options by name, dashes included ("--baud").
template <typename Target>
using OptionTable = std::map<std::string, Option<Target>>;

// A flag's setter: sets `field` to true.
template <typename Target>
Setter<Target> flag(bool Target::*field) {
  return [field](Target& target, const std::string&) {
    target.*field = true;
    return std::string();
  };
}

// Applies args[i] (and its value) to `target`; i is left on the last argument used. "" when it was
// applied, else the refusal: "unknown option ARG (HINT)", "--name needs a value", "--name takes no
// value", or what the option's setter said.
template <typename Target>
std::string apply_option(const OptionTable<Target>& table, const std::vector<std::string>& args, std::size_t& i,
                         Target& target, std::string_view unknown_hint) {
  std::string name = args[i], value;
  const std::size_t eq = name.find('=');
  const bool inline_value = name.starts_with("--") && eq != std::string::npos;
  if (inline_value) {
    value = name.substr(eq + 1);
    name.resize(eq);
  }
  auto it = table.find(name);
  if (it == table.end()) return "unknown option " + args[i] + " (" + std::string(unknown_hint) + ")";
  if (it->second.takes_value && !inline_value) {
    if (i + 1 >= args.size()) return name + " needs a value";
    value = args[++i];
  } else if (!it->second.takes_value && inline_value) {
    return name + " takes no value";
  }
  return it->second.apply(target, value);
}

// True when all of `text` is a number in `base` that fits `out` (then stored there). In base 16 a
// leading 0x or 0X (one) is allowed; a "+", a blank or an empty text is not.
template <typename T>
bool parse_number(std::string_view text, T& out, int base = 10) {
  constexpr int kHex = 16;
  if (base == kHex && (text.starts_with("0x") || text.starts_with("0X")))
    text.remove_prefix(std::string_view("0x").size());
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace vx::cli
