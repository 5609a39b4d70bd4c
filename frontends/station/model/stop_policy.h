// What the station does when it is told to stop: Ctrl-C (SIGINT), SIGTERM or SIGHUP, as they come.
//
// A stop has three levels, and each signal raises it:
//   1  Ctrl-C once: no more jobs start (the waiting boards end as not started); the running ones finish.
//   2  Ctrl-C twice, or SIGTERM / SIGHUP at once: the running jobs are interrupted, as a Ctrl-C at
//      their terminal would.
//   3  once more: the running jobs are ended with SIGTERM, and those still running kKillGrace later
//      are killed (a job that ignores both would otherwise hold the station forever).
// A signal past the third level changes nothing. The policy is pure: the station tells it what came,
// when, and whether jobs run, and carries out what it answers; the time is the caller's, so the whole
// sequence runs in a test on made-up times.
#pragma once

#include <chrono>
#include <optional>

#include "frontends/station/model/clock.h"

namespace vx::station {

constexpr std::chrono::milliseconds kKillGrace{3000};

enum class StopSignal {
  Interrupt,  // SIGINT: a Ctrl-C, or the window closed
  Terminate,  // SIGTERM or SIGHUP: the system or the session ends the station
};

// What a signal asks of the station.
struct StopStep {
  bool raised = false;          // the level rose: no more jobs start
  bool interrupt_jobs = false;  // pass SIGINT on to every running job
  bool end_jobs = false;        // send every running job SIGTERM (kill_due() says when to kill them)
};

class StopPolicy {
 public:
  // `signal` came at `now` while `jobs_running` (any job runs). Interrupting or ending jobs is asked
  // only when some run; the kill is then due kKillGrace after `now`.
  StopStep on_signal(StopSignal signal, SteadyTime now, bool jobs_running);

  // True once, at the first call at or after the kill's time: the jobs ended at level 3 that still
  // run are to be killed now. False when no kill is pending.
  bool kill_due(SteadyTime now);

  // When the pending kill is due (for the loop's sleep); none when none is pending.
  std::optional<SteadyTime> kill_at() const { return kill_at_; }

  // 0 before any signal, else 1 to 3 as above.
  int level() const { return level_; }

  // Level 1 or above: no job is to start.
  bool stopping() const { return level_ > 0; }

 private:
  int level_ = 0;
  std::optional<SteadyTime> kill_at_;
};

}  // namespace vx::station
