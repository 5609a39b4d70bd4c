// The run's boards, in the order they were made: each one's number, name, job and log file.
//
// A board is made for a port: numbered from 1, named by the port's short name, its job's placeholders
// replaced, its console log DIR/NAME.log (a name used before in this run, the same port again in watch
// mode, adds "-INDEX"). A board never leaves the list, and the list never moves one (a deque), so the
// views' pointers to it stay valid. In watch mode the latest board of each port is known by the port's
// key (watch.h), and the boards shown are the latest of the ports the watch table shows.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "frontends/station/model/board.h"
#include "frontends/station/os/ports.h"

namespace vx::station {

class BoardList {
 public:
  // `job`: what each board runs, placeholders unreplaced; `logs_dir`: "" when no logs are kept.
  BoardList(std::vector<std::string> job, std::string logs_dir)
      : job_(std::move(job)), logs_dir_(std::move(logs_dir)) {}

  // A new board, queued, for `port`; its position in the list. `watched`: it becomes its port's latest.
  std::size_t add(const PortInfo& port, bool watched);

  Board& operator[](std::size_t position) { return boards_[position]; }
  std::size_t size() const { return boards_.size(); }
  bool empty() const { return boards_.empty(); }

  // Every board, in order.
  const std::vector<const Board*>& all() const { return all_; }
  const std::vector<std::string>& job() const { return job_; }

  // The latest board of each port in `keys` that has one, in the order the boards were made.
  const std::vector<const Board*>& latest_of(const std::vector<std::string>& keys);

 private:
  std::string log_path_for(const std::string& name, int index);

  std::vector<std::string> job_;
  std::string logs_dir_;
  std::deque<Board> boards_;
  std::vector<const Board*> all_;                     // boards_ in order, for the views
  std::vector<const Board*> latest_;                  // what latest_of() gave last
  std::map<std::string, std::size_t> latest_of_key_;  // the latest board of each watched port
  std::set<std::string> log_names_;
};

// Two boards whose placeholders make one argument of `job` the same (two ports named alike in
// different folders both writing id-{name}.bin) would write one file: the refusal naming both, as
// standard error is to show it; "" when every board's arguments are its own.
std::string colliding_boards_problem(const std::vector<PortInfo>& ports, const std::vector<std::string>& job);

}  // namespace vx::station
