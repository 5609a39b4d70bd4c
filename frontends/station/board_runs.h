// The boards' runs: each board from queued through its vexal job to its end, and when starting stops.
//
// A board added is queued (or, once starting has stopped, ends as not started at once). start_ready()
// starts the waiting boards while the job pool has a free slot and --limit allows (board_quota.h):
// each board's unit values are taken just before its vexal starts (unit_keeper.h), and a pool that ran
// out or a database that can't give a value stops the starting. The job's event lines move the board
// through its phases; its vexal's end ends it, records its attempt, counts it for --limit, brings the
// reports up to date, and in watch mode may start the job again on its port (watch_mode.h). Every
// change is shown on the display as it happens. The loop (station.cpp) tells it the time and calls it
// when a descriptor or a signal says something happened.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "frontends/station/model/board_list.h"
#include "frontends/station/model/board_quota.h"
#include "frontends/station/os/job_pool.h"
#include "frontends/station/run_record.h"
#include "frontends/station/station.h"
#include "frontends/station/views/display.h"
#include "frontends/station/watch_mode.h"

namespace vx::station {

class BoardRuns {
 public:
  BoardRuns(const StationSetup& setup, Display& display, RunRecord& record);

  bool open(std::string& why) { return pool_.open(why); }  // the job pool; false with the reason
  // Watch mode: a board's end tells `watch`, which may run the job on its port again.
  void watch_with(WatchMode* watch) { watch_ = watch; }

  // A board for `port`: queued, or not started when starting has stopped.
  void add(const PortInfo& port);

  // Starts the waiting boards that may start at `now`.
  void start_ready(SteadyTime now);

  // Reads the job pipes that are ready / reaps the jobs whose vexal ended, at `now` (job_pool.h).
  void read_ready(SteadyTime now);
  void reap(SteadyTime now);

  // No more jobs start; the waiting boards end as not started, `reason` (else a Ctrl-C) said why.
  void stop_starting(SteadyTime now, const std::string& reason = {});
  bool stopping() const { return stopping_; }

  std::size_t running() const { return pool_.running(); }
  bool none_waiting() const { return pool_.none_waiting(); }
  void signal_all(int sig) { pool_.signal_all(sig); }
  int pipes_fd() const { return pool_.fd(); }
  const JobCapacity& capacity() const { return pool_.capacity(); }

  BoardList& boards() { return boards_; }
  // The run ended as asked: every board passed, or --limit's passed and the rest never started.
  bool all_passed() const;

 private:
  bool take_units(std::size_t board_index);
  void start_job(std::size_t board_index);
  void on_event_line(std::size_t board_index, std::string_view line);
  void end_job(std::size_t board_index, int wait_status);
  void settle(std::size_t board_index);
  void count_end(const Board& board);

  const StationSetup& setup_;
  Display& display_;
  RunRecord& record_;
  BoardList boards_;
  JobPool pool_;
  BoardQuota quota_;
  WatchMode* watch_ = nullptr;
  SteadyTime now_{};
  bool stopping_ = false;  // no more jobs start: a stop, --limit, or a pool that ran out
};

}  // namespace vx::station
