// The serial ports of a Linux machine, read from /dev/serial/by-id and sysfs (see port_list.h).
//
// A by-id link names its device relative to its folder ("../../ttyUSB0"); the device's sysfs entry
// (class/tty/NAME/device) leads to the interface or port, and the USB device with idVendor and
// idProduct is the first folder above it that holds them. A ttyS device without a driver behind it, or
// a serial8250 port whose type is 0 (no UART found there), is no port.
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "serial/port_list.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTtyPrefixes[] = {"ttyUSB", "ttyACM", "ttyS"};
constexpr char kLegacyPrefix[] = "ttyS";
constexpr char kNoUartType[] = "0";

// The first line of a small sysfs file; empty when there is none.
std::string first_line(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

bool has_tty_prefix(const std::string& name) {
  for (const char* prefix : kTtyPrefixes)
    if (name.rfind(prefix, 0) == 0 && name.size() > std::char_traits<char>::length(prefix)) return true;
  return false;
}

// The USB device above a tty's device entry: the nearest folder that has an idVendor file.
void add_usb_details(const fs::path& sysfs, const std::string& tty, SerialPortInfo& port) {
  std::error_code ec;
  fs::path at = fs::canonical(sysfs / "class" / "tty" / tty / "device", ec);
  if (ec) return;
  const fs::path top = fs::weakly_canonical(sysfs, ec);
  for (; !at.empty() && at != top && at != at.root_path(); at = at.parent_path()) {
    const std::string vendor = first_line(at / "idVendor");
    if (vendor.empty()) continue;
    port.vid_pid = vendor + ":" + first_line(at / "idProduct");
    port.serial = first_line(at / "serial");
    const std::string maker = first_line(at / "manufacturer"), product = first_line(at / "product");
    port.description = maker.empty() || product.empty() ? maker + product : maker + " " + product;
    return;
  }
}

void add_by_id_links(const fs::path& dev, const fs::path& sysfs, std::vector<SerialPortInfo>& out) {
  std::error_code ec;
  for (const fs::directory_entry& link : fs::directory_iterator(dev / "serial" / "by-id", ec)) {
    std::error_code link_ec;
    const fs::path target = fs::read_symlink(link.path(), link_ec);
    if (link_ec) continue;  // only links name ports there; a stray file is no device
    SerialPortInfo port;
    port.by_id = link.path().filename().string();
    const fs::path device = (link.path().parent_path() / target).lexically_normal();
    port.device = device.string();
    add_usb_details(sysfs, device.filename().string(), port);
    out.push_back(port);
  }
}

// A tty with a device behind it; for a ttyS, also a UART found at its port where the type says so.
bool real_port(const fs::path& entry, const std::string& name) {
  std::error_code ec;
  if (!fs::exists(entry / "device", ec)) return false;
  if (name.rfind(kLegacyPrefix, 0) != 0) return true;
  return first_line(entry / "type") != kNoUartType;
}

void add_sysfs_ttys(const fs::path& dev, const fs::path& sysfs, std::vector<SerialPortInfo>& out) {
  std::set<std::string> listed;
  for (const SerialPortInfo& port : out) listed.insert(port.device);
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysfs / "class" / "tty", ec)) {
    const std::string name = entry.path().filename().string();
    if (!has_tty_prefix(name) || !real_port(entry.path(), name)) continue;
    SerialPortInfo port;
    port.device = (dev / name).string();
    if (listed.count(port.device)) continue;
    add_usb_details(sysfs, name, port);
    out.push_back(port);
  }
}

}  // namespace

std::vector<SerialPortInfo> list_serial_ports(const PortListRoots& roots) {
  const fs::path dev = roots.dev, sysfs = roots.sysfs;
  std::vector<SerialPortInfo> ports;
  add_by_id_links(dev, sysfs, ports);
  add_sysfs_ttys(dev, sysfs, ports);
  sort_port_list(ports);
  return ports;
}

}  // namespace vx
