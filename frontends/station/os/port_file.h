// A bench's ports in a file (--ports-file): one port a line, so 64 boards on four fixtures are one file.
//
//   # fixture A, exported by ser2net on rack-a
//   rfc2217://rack-a:3001  a01
//   rfc2217://rack-a:3002  a02
//   /dev/ttyUSB0
//
// A line is a device or a network URL, then optionally a name for the table, the reports and {name}
// (the device's own short name otherwise); blanks separate them. '#' begins a comment to the line's end;
// blank lines are skipped. A line of more than two fields is refused with its number, so a typo can't
// turn into a board nobody meant.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vx::station {

struct NamedPort {
  std::string device;
  std::string name;  // "" when the line gives none
};

// The ports `text` lists; false with the reason (the line's number and what is wrong with it).
bool parse_ports_text(std::string_view text, std::vector<NamedPort>& ports, std::string& why);

// The ports the file at `path` lists; false with the reason (the file can't be read, or as above).
bool read_ports_file(const std::string& path, std::vector<NamedPort>& ports, std::string& why);

}  // namespace vx::station
