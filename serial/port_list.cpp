#include "serial/port_list.h"

#include <algorithm>
#include <tuple>

namespace vx {
namespace {

constexpr char kUnknown[] = "-";
constexpr char kSeparator = '\t';

// A field must not break the line into more fields or lines than the format has.
std::string field(std::string text) {
  for (char& c : text)
    if (c == kSeparator || c == '\n' || c == '\r') c = ' ';
  return text.empty() ? kUnknown : text;
}

}  // namespace

std::string port_list_line(const SerialPortInfo& p) {
  return field(p.device) + kSeparator + field(p.by_id) + kSeparator + field(p.vid_pid) + kSeparator + field(p.serial) +
         kSeparator + field(p.description);
}

void sort_port_list(std::vector<SerialPortInfo>& ports) {
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return std::tie(a.by_id, a.device) < std::tie(b.by_id, b.device);
  });
}

}  // namespace vx
