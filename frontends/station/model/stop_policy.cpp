#include "frontends/station/model/stop_policy.h"

#include <algorithm>

namespace vx::station {

namespace {

constexpr int kInterruptJobs = 2;
constexpr int kEndJobs = 3;

// A Ctrl-C raises the level by one; SIGTERM and SIGHUP go at least as far as interrupting the jobs.
int next_level(int level, StopSignal signal) {
  const int raised = signal == StopSignal::Interrupt ? level + 1 : std::max(level + 1, kInterruptJobs);
  return std::min(kEndJobs, raised);
}

}  // namespace

StopStep StopPolicy::on_signal(StopSignal signal, SteadyTime now, bool jobs_running) {
  const int before = level_;
  level_ = next_level(level_, signal);
  StopStep step;
  if (level_ == before) return step;
  step.raised = true;
  step.interrupt_jobs = level_ == kInterruptJobs && jobs_running;
  step.end_jobs = level_ == kEndJobs && jobs_running;
  if (step.end_jobs) kill_at_ = now + kKillGrace;
  return step;
}

bool StopPolicy::kill_due(SteadyTime now) {
  if (!kill_at_ || now < *kill_at_) return false;
  kill_at_.reset();
  return true;
}

}  // namespace vx::station
