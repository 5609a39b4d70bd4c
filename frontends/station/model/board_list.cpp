#include "frontends/station/model/board_list.h"

#include <algorithm>
#include <filesystem>

#include "frontends/station/model/job.h"
#include "frontends/station/model/placeholders.h"
#include "frontends/station/model/watch.h"
#include "frontends/station/views/text.h"

namespace vx::station {

std::size_t BoardList::add(const PortInfo& port, bool watched) {
  Board board;
  board.index = static_cast<int>(boards_.size()) + 1;
  board.port = port;
  board.name = short_name(port);
  board.job = replace_placeholders(job_, {port.device, board.name, board.index});
  board.log_path = log_path_for(board.name, board.index);
  boards_.push_back(std::move(board));
  all_.push_back(&boards_.back());
  const std::size_t position = boards_.size() - 1;
  if (watched) latest_of_key_[port_key(port)] = position;
  return position;
}

const std::vector<const Board*>& BoardList::latest_of(const std::vector<std::string>& keys) {
  latest_.clear();
  for (const std::string& key : keys) {
    auto it = latest_of_key_.find(key);
    if (it != latest_of_key_.end()) latest_.push_back(&boards_[it->second]);
  }
  std::sort(latest_.begin(), latest_.end(), [](const Board* a, const Board* b) { return a->index < b->index; });
  return latest_;
}

// DIR/NAME.log; a name used before in this run (the same port again, in watch mode) adds the index.
std::string BoardList::log_path_for(const std::string& name, int index) {
  if (logs_dir_.empty()) return {};
  std::string base = file_name_safe(name);
  if (!log_names_.insert(base).second) {
    base += "-" + std::to_string(index);
    log_names_.insert(base);
  }
  return (std::filesystem::path(logs_dir_) / (base + ".log")).string();
}

std::string colliding_boards_problem(const std::vector<PortInfo>& ports, const std::vector<std::string>& job) {
  std::vector<PlaceholderValues> values;
  for (std::size_t i = 0; i < ports.size(); ++i)
    values.push_back({ports[i].device, short_name(ports[i]), static_cast<int>(i) + 1});
  std::optional<Collision> collision = colliding_argument(job, values);
  if (!collision) return {};
  return formatted(
      "vexal-station: %s and %s both make '%s' into %s: one would overwrite the other's file; "
      "use {index} or {port} to tell them apart",
      ports[collision->first].device.c_str(), ports[collision->second].device.c_str(), collision->argument.c_str(),
      collision->value.c_str());
}

}  // namespace vx::station
