// Watch mode's ports: which appeared (the job starts on them), which went, and when to look again.
//
// It joins three parts: the device watcher (devwatch.h), whose descriptor the station's loop waits
// on; the relist timer (relist_timer.h), which says when the ports are to be listed again (after a
// change the watcher reported, or every kFallbackRelist where inotify can't be used); and the watch
// table (watch.h), which turns each listing and each job's end into the ports whose job is to start.
// The listing itself is the station's (it runs vexal, port_lister.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontends/station/model/clock.h"
#include "frontends/station/model/relist_timer.h"
#include "frontends/station/model/watch.h"
#include "frontends/station/os/devwatch.h"
#include "frontends/station/os/ports.h"

namespace vx::station {

class WatchMode {
 public:
  // Starts watching `dev_root` at `now`; the first listing is due at once. False with the reason when
  // the device watcher can't be used there: the ports are then listed every kFallbackRelist.
  bool open(const std::string& dev_root, SteadyTime now, std::string& why);

  // The device watcher's descriptor, readable when it has changes; -1 without a watcher.
  int fd() const { return watcher_ ? watcher_->fd() : -1; }

  // Takes the watcher's changes: the ports gone leave the table, a change makes a listing due.
  void on_device_changes(SteadyTime now);

  // True when the ports are to be listed at `now` (noted as listed then).
  bool relist_due(SteadyTime now);

  // The ports listed now (already matched); those whose job is to start.
  std::vector<PortInfo> scan(const std::vector<PortInfo>& present) { return table_.scan(present); }

  // The job on `port` ended: the port to run it on again at once, if any (watch.h).
  std::optional<PortInfo> job_ended(const PortInfo& port);

  // The keys of the ports whose row is shown.
  std::vector<std::string> shown() const { return table_.shown(); }

  // The station stops starting jobs: no more listings (relist_timer.h's stop).
  void stop_listing() {
    if (relist_) relist_->stop();
  }

  // When the loop is to wake for a listing (relist_timer.h's next).
  std::optional<SteadyTime> next(bool stopping) const { return relist_ ? relist_->next(stopping) : std::nullopt; }

 private:
  WatchTable table_;
  std::unique_ptr<DeviceWatcher> watcher_;
  std::optional<RelistTimer> relist_;
};

}  // namespace vx::station
