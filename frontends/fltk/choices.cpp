#include "frontends/fltk/choices.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace vxw {

namespace {

constexpr char kFolder[] = "vexal";
constexpr char kFileName[] = "vexalw.conf";
constexpr char kEntryOpen[] = " (";

int parsed_baud(const std::string& value) {
  int baud = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), baud);
  const bool known = ec == std::errc() && end == value.data() + value.size() &&
                     std::find(std::begin(vx::kBaudRates), std::end(vx::kBaudRates), baud) != std::end(vx::kBaudRates);
  return known ? baud : kDefaultBaud;
}

}  // namespace

std::string choices_path(const char* xdg_config_home, const char* home) {
  std::filesystem::path base;
  if (xdg_config_home != nullptr && *xdg_config_home == '/')  // a relative one is to be ignored
    base = xdg_config_home;
  else if (home != nullptr && *home != '\0')
    base = std::filesystem::path(home) / ".config";
  else
    return {};
  return (base / kFolder / kFileName).string();
}

Choices parse_choices(const std::string& text) {
  Choices choices;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "port") choices.port = value;
    if (key == "file") choices.file = value;
    if (key == "baud") choices.baud = parsed_baud(value);
  }
  return choices;
}

std::string format_choices(const Choices& choices) {
  return "port=" + choices.port + "\nfile=" + choices.file + "\nbaud=" + std::to_string(choices.baud) + "\n";
}

Choices load_choices(const std::string& path) {
  std::ifstream in(path);
  if (!in) return Choices{};
  std::ostringstream text;
  text << in.rdbuf();
  return parse_choices(text.str());
}

bool save_choices(const std::string& path, const Choices& choices, std::string& why) {
  if (path.empty()) {
    why = "no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)";
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  const std::string partial = path + ".new";
  {
    std::ofstream out(partial, std::ios::trunc);
    out << format_choices(choices);
    if (!out.flush()) {
      why = "can't write " + partial;
      return false;
    }
  }
  std::filesystem::rename(partial, path, error);
  if (error) why = "can't write " + path + ": " + error.message();
  return !error;
}

std::vector<std::string> job_arguments(const Choices& choices) {
  std::vector<std::string> args;
  if (!choices.port.empty()) args.insert(args.end(), {"--port", choices.port});
  args.push_back("b" + std::to_string(choices.baud));
  if (!choices.file.empty()) args.push_back(choices.file);
  return args;
}

std::string port_entry(const vx::SerialPortInfo& port) {
  return port.by_id.empty() ? port.device : port.by_id + kEntryOpen + port.device + ")";
}

std::string device_of_entry(const std::string& entry) {
  const std::size_t open = entry.rfind(kEntryOpen);
  if (open == std::string::npos || entry.empty() || entry.back() != ')') return entry;
  return entry.substr(open + 2, entry.size() - open - 3);
}

}  // namespace vxw
