#include "frontends/station/watch_mode.h"

namespace vx::station {

bool WatchMode::open(const std::string& dev_root, SteadyTime now, std::string& why) {
  watcher_ = std::make_unique<DeviceWatcher>();
  const bool watched = watcher_->open(dev_root, why);
  if (!watched) watcher_.reset();
  relist_.emplace(!watched);
  relist_->start(now);
  return watched;
}

void WatchMode::on_device_changes(SteadyTime now) {
  DeviceChanges changes = watcher_->read_changes();
  for (const std::string& gone : changes.gone) table_.went_away(gone);
  if (changes.relist) relist_->device_changed(now);
}

bool WatchMode::relist_due(SteadyTime now) {
  if (!relist_ || !relist_->due(now)) return false;
  relist_->listed(now);
  return true;
}

std::optional<PortInfo> WatchMode::job_ended(const PortInfo& port) {
  const std::string key = port_key(port);
  if (!table_.job_ended(key)) return std::nullopt;
  return table_.port(key);
}

}  // namespace vx::station
