// The serial ports present on this machine, for `vexal --list-ports`.
//
// Each port is one line of five TAB-separated fields, "-" where a field is unknown:
//   DEVICE  BY-ID-NAME  VID:PID  SERIAL  DESCRIPTION
// sorted by the by-id name, then the device. Scripts (vexal-station) read these lines, so the format
// is fixed.
//
// Linux (port_list_posix.cpp): every link in DEV/serial/by-id with the device it points to, then every
// ttyUSB*, ttyACM* and ttyS* of SYSFS/class/tty that has a real device behind it and is not listed yet;
// USB details come from the USB device above the tty in sysfs. The two roots (PortListRoots, /dev and
// /sys unless VEXAL_DEV_ROOT and VEXAL_SYSFS_ROOT name others) exist so tests can point at a scratch tree.
// Win32 (port_list_win32.cpp): the ports the registry lists under HARDWARE\DEVICEMAP\SERIALCOMM.
#pragma once

#include <string>
#include <vector>

namespace vx {

struct SerialPortInfo {
  std::string device;       // the device path ("/dev/ttyUSB0", "COM3")
  std::string by_id;        // the name of its /dev/serial/by-id link
  std::string vid_pid;      // "0403:6001", lower-case hex
  std::string serial;       // the USB serial number
  std::string description;  // manufacturer and product as known
};

// Where the POSIX listing looks; the Win32 one reads the registry and ignores them.
struct PortListRoots {
  std::string dev = "/dev";
  std::string sysfs = "/sys";
};

std::vector<SerialPortInfo> list_serial_ports(const PortListRoots& roots);  // the platform's

// One line, without its line feed; TABs and line breaks inside a field become blanks.
std::string port_list_line(const SerialPortInfo& port);

// By by-id name, then device.
void sort_port_list(std::vector<SerialPortInfo>& ports);

}  // namespace vx
