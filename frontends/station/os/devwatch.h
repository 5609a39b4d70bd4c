// Noticing serial ports come and go, through inotify on the device folder.
//
// Watched: DEV_ROOT itself (ttyUSB*, ttyACM* device nodes, and the "serial" folder appearing),
// DEV_ROOT/serial ("by-id" appearing) and DEV_ROOT/serial/by-id (links made, renamed, deleted). The
// by-id folder goes away with the last USB serial adapter and comes back with the next one, so the
// watches on it are set again whenever it reappears. read_changes() says whether the ports should be
// listed again and which by-id names and device nodes were deleted (so a quick unplug and replug is
// seen even when one listing follows both).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vx::station {

struct DeviceChanges {
  bool relist = false;
  std::vector<std::string> gone;  // by-id names, and device paths (DEV_ROOT/ttyUSB0)
};

class DeviceWatcher {
 public:
  DeviceWatcher() = default;
  ~DeviceWatcher();
  DeviceWatcher(const DeviceWatcher&) = delete;
  DeviceWatcher& operator=(const DeviceWatcher&) = delete;

  // Starts watching `dev_root`; false with the reason when inotify can't be used there.
  bool open(const std::string& dev_root, std::string& why);
  int fd() const { return fd_; }

  // What the events queued since the last call say (never blocks).
  DeviceChanges read_changes();

 private:
  enum class Folder { Root, Serial, ById };
  bool watch_folder(Folder folder);
  void note_event(int wd, unsigned mask, const std::string& name, DeviceChanges& changes);
  std::string path_of(Folder folder) const;

  int fd_ = -1;
  std::string root_;
  std::map<int, Folder> watches_;
};

// The devices whose appearing or going in DEV_ROOT counts: ttyUSB* and ttyACM*.
bool is_serial_device_name(const std::string& name);

}  // namespace vx::station
