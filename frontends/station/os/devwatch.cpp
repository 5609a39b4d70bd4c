#include "frontends/station/os/devwatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vx::station {

namespace {

constexpr unsigned kEntryChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr unsigned kGoneMask = IN_DELETE | IN_MOVED_FROM;
constexpr std::size_t kEventBuffer = 16 * 1024;

}  // namespace

bool is_serial_device_name(const std::string& name) {
  return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

DeviceWatcher::~DeviceWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

bool DeviceWatcher::open(const std::string& dev_root, std::string& why) {
  root_ = dev_root;
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    why = std::string("inotify: ") + std::strerror(errno);
    return false;
  }
  if (watch_folder(Folder::Root)) return true;
  why = "can't watch " + root_ + ": " + std::strerror(errno);
  return false;
}

std::string DeviceWatcher::path_of(Folder folder) const {
  switch (folder) {
    case Folder::Root: return root_;
    case Folder::Serial: return root_ + "/serial";
    case Folder::ById: return root_ + "/serial/by-id";
  }
  return root_;
}

// Watches `folder` and, as far as they exist, the folders below it (a folder that doesn't exist yet
// is watched once its parent reports it made). False when `folder` itself can't be watched.
bool DeviceWatcher::watch_folder(Folder folder) {
  int wd = ::inotify_add_watch(fd_, path_of(folder).c_str(), kEntryChanges);
  if (wd < 0) return false;
  watches_[wd] = folder;
  if (folder == Folder::Root) watch_folder(Folder::Serial);
  if (folder == Folder::Serial) watch_folder(Folder::ById);
  return true;
}

void DeviceWatcher::note_event(int wd, unsigned mask, const std::string& name, DeviceChanges& changes) {
  if (mask & IN_Q_OVERFLOW) {
    changes.relist = true;  // events were lost: only a fresh listing tells what is there
    return;
  }
  auto it = watches_.find(wd);
  if (it == watches_.end()) return;
  const Folder folder = it->second;
  if (mask & IN_IGNORED) {  // the folder itself went away (by-id, with the last adapter)
    watches_.erase(it);
    changes.relist = true;
    return;
  }
  const bool made = (mask & (IN_CREATE | IN_MOVED_TO)) != 0;
  const bool subfolder = (folder == Folder::Root && name == "serial") || (folder == Folder::Serial && name == "by-id");
  if (subfolder) {
    if (made) watch_folder(folder == Folder::Root ? Folder::Serial : Folder::ById);
    changes.relist = true;
    return;
  }
  if (folder != Folder::ById && !(folder == Folder::Root && is_serial_device_name(name))) return;
  changes.relist = true;
  if (mask & kGoneMask) changes.gone.push_back(folder == Folder::ById ? name : path_of(Folder::Root) + "/" + name);
}

DeviceChanges DeviceWatcher::read_changes() {
  DeviceChanges changes;
  alignas(inotify_event) char buffer[kEventBuffer];
  for (;;) {
    ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return changes;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      note_event(event->wd, event->mask, event->len > 0 ? std::string(event->name) : std::string(), changes);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace vx::station
