#include "frontends/station/os/port_file.h"

#include <fstream>
#include <sstream>

namespace vx::station {

namespace {

constexpr char kComment = '#';
constexpr std::size_t kMostFields = 2;

std::vector<std::string> fields_of(std::string_view line) {
  std::vector<std::string> fields;
  std::istringstream words{std::string(line.substr(0, line.find(kComment)))};
  for (std::string word; words >> word;) fields.push_back(word);
  return fields;
}

}  // namespace

bool parse_ports_text(std::string_view text, std::vector<NamedPort>& ports, std::string& why) {
  std::vector<NamedPort> found;
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    const std::vector<std::string> fields = fields_of(line);
    if (fields.empty()) continue;
    if (fields.size() > kMostFields) {
      why = "line " + std::to_string(number) + " has more than a port and a name: " + std::string(line);
      return false;
    }
    found.push_back({fields[0], fields.size() > 1 ? fields[1] : std::string()});
  }
  ports.insert(ports.end(), found.begin(), found.end());
  return true;
}

bool read_ports_file(const std::string& path, std::vector<NamedPort>& ports, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "can't read the ports file " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!parse_ports_text(text.str(), ports, why)) {
    why = path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace vx::station
