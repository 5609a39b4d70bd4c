// Watch mode's bookkeeping: which port runs its job when, as ports come and go.
//
// A port is known by its key (its by-id name, else its device). Each port is in one of two states:
//
//   running   its job runs; `left` notes that the port went away meanwhile
//   finished  its job ended and its row shows the result, until the port goes away
//
// A port not in the table is absent or was never seen. A scan (the ports present now) starts the job on
// every port not in the table; a port that went away (missing from a scan, or its link deleted, which
// the device watcher reports at once, so a quick unplug and replug between two scans is not missed)
// leaves the table if finished, or is marked as left if running. When a job ends its port is finished,
// or leaves the table if it went away, or runs the job again at once if it went away and came back
// while the job ran (another board was plugged in). So a port runs the job again only after it went
// away and came back.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "frontends/station/os/ports.h"

namespace vx::station {

std::string port_key(const PortInfo& port);

class WatchTable {
 public:
  // The ports present now (already matched); returns those whose job is to start.
  std::vector<PortInfo> scan(const std::vector<PortInfo>& present);

  // The port with this key, or the ports on this device, are gone (a deleted link or device node).
  void went_away(const std::string& key_or_device);

  // The job on `key` ended; true when it is to run again at once (on the port as last seen).
  bool job_ended(const std::string& key);

  // The ports whose row is shown: running or finished.
  std::vector<std::string> shown() const;

  const PortInfo& port(const std::string& key) const { return entries_.at(key).port; }

 private:
  struct Entry {
    PortInfo port;
    bool running = true;
    bool present = true;  // in the last scan and not reported gone since
    bool left = false;    // went away while running
  };
  void mark_gone(const std::string& key);

  std::map<std::string, Entry> entries_;
};

}  // namespace vx::station
