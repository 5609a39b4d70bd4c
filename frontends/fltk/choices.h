// What `vexalw --choose` asks before a run (the port, the firmware or command file, the baud rate),
// kept between runs in one small file: $XDG_CONFIG_HOME/vexal/vexalw.conf, or ~/.config/vexal/vexalw.conf
// when XDG_CONFIG_HOME is not set.
//
// The file holds "key=value" lines (port, file, baud); a line it doesn't know is passed over and a
// missing key keeps its default, so a file from another version still gives what it can. It is
// written whole to a file beside it and renamed over it, so a crash can't leave half a file.
#pragma once

#include <string>
#include <vector>

#include "serial/comdrv.h"
#include "serial/port_list.h"

namespace vxw {

inline constexpr int kDefaultBaud = 115200;
// The rates offered are the loader's own (vx::kBaudRates, serial/comdrv.h).

struct Choices {
  std::string port;  // the device ("/dev/ttyUSB0")
  std::string file;  // the firmware or command file
  int baud = kDefaultBaud;
  bool operator==(const Choices&) const = default;
};

// The file's place from the environment's values (nullptr: not set); "" when neither is set.
std::string choices_path(const char* xdg_config_home, const char* home);

Choices parse_choices(const std::string& text);
std::string format_choices(const Choices& choices);

// The last choices, or the defaults when there are none (or the file can't be read).
Choices load_choices(const std::string& path);

// False with the reason when the file could not be written (its folder is made first).
bool save_choices(const std::string& path, const Choices& choices, std::string& why);

// The loader's arguments for the choices: --port DEV bBAUD FILE (without a port or file, those are left out).
std::vector<std::string> job_arguments(const Choices& choices);

// A port as the dialog lists it: "usb-Maker_Board-if00-port0 (/dev/ttyUSB0)", the device alone
// without a by-id name.
std::string port_entry(const vx::SerialPortInfo& port);

// The device of an entry port_entry made (or of a path typed in: the text itself).
std::string device_of_entry(const std::string& entry);

}  // namespace vxw
