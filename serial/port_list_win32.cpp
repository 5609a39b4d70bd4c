// The serial ports of a Win32 machine: the values under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, each the
// driver's device name ("\Device\Serial0", "\Device\VCP0") holding the port's name ("COM3"). The
// device name is all that is known of the port here; it goes into the description.
#include <windows.h>

#include "serial/port_list.h"

namespace vx {
namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kNameRoom = 256;

class RegistryKey {
 public:
  explicit RegistryKey(const char* path) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Value `index` as a port; false when there are no more values.
bool read_value(HKEY key, DWORD index, SerialPortInfo& port, bool& is_text) {
  char name[kNameRoom];
  BYTE data[kNameRoom];
  DWORD name_size = sizeof name, data_size = sizeof data - 1, type = 0;
  const LONG got = RegEnumValueA(key, index, name, &name_size, nullptr, &type, data, &data_size);
  if (got == ERROR_NO_MORE_ITEMS) return false;
  is_text = got == ERROR_SUCCESS && type == REG_SZ;
  if (!is_text) return true;
  data[data_size] = 0;
  port = SerialPortInfo{};
  port.device = reinterpret_cast<const char*>(data);
  port.description = std::string(name, name_size);
  return true;
}

}  // namespace

std::vector<SerialPortInfo> list_serial_ports(const PortListRoots&) {
  std::vector<SerialPortInfo> ports;
  RegistryKey key(kSerialCommKey);
  if (!key.get()) return ports;  // no serial port was ever set up: the key is missing
  SerialPortInfo port;
  bool is_text = false;
  for (DWORD i = 0; read_value(key.get(), i, port, is_text); ++i)
    if (is_text && !port.device.empty()) ports.push_back(port);
  sort_port_list(ports);
  return ports;
}

}  // namespace vx
