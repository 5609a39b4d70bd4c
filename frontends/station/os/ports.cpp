#include "frontends/station/os/ports.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr std::size_t kListingFields = 5;

std::string known(const std::string& field) { return field == "-" ? std::string() : field; }

bool is_hex4(std::string_view text) {
  return text.size() == 4 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

bool is_vid_pid(std::string_view text) {
  return text.size() == 9 && text[4] == ':' && is_hex4(text.substr(0, 4)) && is_hex4(text.substr(5));
}

// The file a path names, links followed; the path itself when it can't be resolved.
std::string resolved(const std::string& path) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::canonical(path, error);
  return error ? path : canonical.string();
}

}  // namespace

std::vector<PortInfo> parse_port_listing(std::string_view listing) {
  std::vector<PortInfo> ports;
  for (const std::string& line : split(listing, '\n')) {
    std::vector<std::string> fields = split(line, '\t');
    if (fields.size() != kListingFields || known(fields[0]).empty()) continue;
    ports.push_back({fields[0], known(fields[1]), to_lower(known(fields[2])), known(fields[3]), known(fields[4])});
  }
  return ports;
}

std::string short_name(const PortInfo& port) {
  if (!port.name.empty()) return port.name;
  return port.by_id.empty() ? last_component(port.device) : port.by_id;
}

PortInfo port_from_path(const std::string& path, const std::vector<PortInfo>& listing) {
  const std::string file = resolved(path);
  PortInfo port;
  for (const PortInfo& listed : listing) {
    if (resolved(listed.device) == file) port = listed;
  }
  port.device = path;
  std::filesystem::path given(path);
  if (given.parent_path().filename() == "by-id") port.by_id = given.filename().string();
  return port;
}

std::string repeated_port(const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::string file = resolved(path);
    if (std::find(files.begin(), files.end(), file) != files.end()) return path;
    files.push_back(file);
  }
  return {};
}

bool PortMatcher::add(const std::string& pattern, std::string& why) {
  if (pattern.empty()) {
    why = "--match needs a glob or a list of VID:PID";
    return false;
  }
  // by-id names hold no ':', so a pattern with one is meant as VID:PID pairs and a typo there is refused
  // rather than taken for a glob that matches nothing.
  if (pattern.find(':') == std::string::npos) {
    globs_.push_back(pattern);
    return true;
  }
  std::vector<std::string> pieces = split(pattern, ',');
  for (const std::string& id : pieces) {
    if (!is_vid_pid(id)) {
      why = "--match " + pattern + ": '" + id + "' is not VID:PID (four hexadecimal digits each)";
      return false;
    }
  }
  for (const std::string& id : pieces) ids_.push_back(to_lower(id));
  return true;
}

bool PortMatcher::matches(const PortInfo& port) const {
  if (empty()) return true;
  if (!port.vid_pid.empty() && std::find(ids_.begin(), ids_.end(), port.vid_pid) != ids_.end()) return true;
  if (port.by_id.empty()) return false;
  return std::any_of(globs_.begin(), globs_.end(),
                     [&](const std::string& glob) { return ::fnmatch(glob.c_str(), port.by_id.c_str(), 0) == 0; });
}

std::vector<PortInfo> matching_ports(const std::vector<PortInfo>& listing, const PortMatcher& matcher) {
  std::vector<PortInfo> matched;
  std::copy_if(listing.begin(), listing.end(), std::back_inserter(matched),
               [&](const PortInfo& port) { return matcher.matches(port); });
  return matched;
}

std::vector<PortInfo> ports_from_paths(const std::vector<std::string>& paths, const std::vector<std::string>& names,
                                       const std::vector<PortInfo>& listing) {
  std::vector<PortInfo> ports;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    ports.push_back(port_from_path(paths[i], listing));
    if (i < names.size()) ports.back().name = names[i];
  }
  return ports;
}

}  // namespace vx::station
