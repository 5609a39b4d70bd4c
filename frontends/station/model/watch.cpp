#include "frontends/station/model/watch.h"

#include <set>

namespace vx::station {

std::string port_key(const PortInfo& port) { return port.by_id.empty() ? port.device : port.by_id; }

std::vector<PortInfo> WatchTable::scan(const std::vector<PortInfo>& present) {
  std::vector<PortInfo> to_start;
  std::set<std::string> keys;
  for (const PortInfo& port : present) {
    const std::string key = port_key(port);
    keys.insert(key);
    auto it = entries_.find(key);
    if (it == entries_.end()) {
      entries_.emplace(key, Entry{port});
      to_start.push_back(port);
    } else {
      it->second.present = true;
      it->second.port = port;
    }
  }
  std::vector<std::string> missing;
  for (const auto& [key, entry] : entries_) {
    if (keys.count(key) == 0) missing.push_back(key);
  }
  for (const std::string& key : missing) mark_gone(key);
  return to_start;
}

void WatchTable::went_away(const std::string& key_or_device) {
  std::vector<std::string> gone;
  for (const auto& [key, entry] : entries_) {
    if (key == key_or_device || entry.port.device == key_or_device) gone.push_back(key);
  }
  for (const std::string& key : gone) mark_gone(key);
}

void WatchTable::mark_gone(const std::string& key) {
  Entry& entry = entries_.at(key);
  if (!entry.running) {
    entries_.erase(key);
    return;
  }
  entry.present = false;
  entry.left = true;
}

bool WatchTable::job_ended(const std::string& key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return false;
  Entry& entry = it->second;
  if (!entry.present) {
    entries_.erase(it);
    return false;
  }
  if (entry.left) {
    entry.left = false;
    return true;
  }
  entry.running = false;
  return false;
}

std::vector<std::string> WatchTable::shown() const {
  std::vector<std::string> keys;
  for (const auto& [key, entry] : entries_) keys.push_back(key);
  return keys;
}

}  // namespace vx::station
