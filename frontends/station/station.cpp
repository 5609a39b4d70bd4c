#include "frontends/station/station.h"

#include <poll.h>
#include <signal.h>

#include <optional>

#include "frontends/station/board_finder.h"
#include "frontends/station/board_runs.h"
#include "frontends/station/model/stop_policy.h"
#include "frontends/station/os/signal_channel.h"
#include "frontends/station/run_record.h"
#include "frontends/station/views/text.h"
#include "frontends/station/watch_mode.h"

namespace vx::station {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kFailedStatus = 1;

}  // namespace

class Station {
 public:
  Station(const StationSetup& setup, Display& display)
      : setup_(setup),
        display_(display),
        record_(setup.options, setup.version, setup.units),
        runs_(setup, display, record_),
        finder_(setup, display, runs_) {}
  int run();

 private:
  WaitInterrupt interrupt();
  void relist_if_due();

  void on_signals();
  void escalate(StopSignal signal);
  void kill_if_due();

  bool finished() const;
  int poll_timeout() const;
  void poll_once();
  const std::vector<const Board*>& shown_boards();
  int conclude();

  const StationSetup& setup_;
  const Options& options_ = setup_.options;
  Display& display_;
  SteadyTime now_{};
  RunRecord record_;
  BoardRuns runs_;
  SignalChannel signals_;
  StopPolicy stop_;
  BoardFinder finder_;
  std::optional<WatchMode> watch_;  // in watch mode
};

int Station::run() {
  std::string why;
  if (!signals_.open(why) || !runs_.open(why)) {
    display_.note("vexal-station: " + why);
    return kFailedStatus;
  }
  if (!finder_.open(why)) {  // the patterns were checked with the options already
    display_.note("vexal-station: " + why);
    return kUsageStatus;
  }
  now_ = Clock::now();
  record_.start(now_);
  if (options_.watch) {
    finder_.open_watch(watch_.emplace(), now_);
    runs_.watch_with(&*watch_);
  } else if (const Found found = finder_.prepare(interrupt()); found != Found::Boards) {
    return found == Found::Refused ? kUsageStatus : conclude();
  }
  // Its folder was checked: something else stands in the way.
  if (!record_.write(runs_.boards().all(), now_, false, display_)) return kFailedStatus;
  for (;;) {
    now_ = Clock::now();  // listing the ports may have taken a while since the loop last looked
    runs_.start_ready(now_);
    if (finished()) break;
    display_.show(shown_boards(), now_, false);
    poll_once();
  }
  return conclude();
}

// Signals are taken while the ports are listed: a Ctrl-C then stops the listing too.
WaitInterrupt Station::interrupt() {
  return {signals_.fd(), [this] {
            on_signals();
            return !runs_.stopping();
          }};
}

void Station::relist_if_due() {
  if (!watch_ || runs_.stopping() || !watch_->relist_due(now_)) return;
  finder_.relist(*watch_, interrupt());
}

void Station::on_signals() {
  bool child_ended = false;
  for (int sig : signals_.take()) {
    if (sig == SIGCHLD)
      child_ended = true;
    else
      escalate(sig == SIGINT ? StopSignal::Interrupt : StopSignal::Terminate);
  }
  if (child_ended) runs_.reap(now_);
}

// What a stop asks (stop_policy.h), carried out.
void Station::escalate(StopSignal signal) {
  const StopStep step = stop_.on_signal(signal, now_, runs_.running() > 0);
  if (!step.raised) return;
  runs_.stop_starting(now_);
  if (step.interrupt_jobs) {
    display_.note(formatted("vexal-station: interrupting %zu running jobs (Ctrl-C again ends them)", runs_.running()));
    runs_.signal_all(SIGINT);
  }
  if (step.end_jobs) {
    const auto grace = std::chrono::duration_cast<std::chrono::seconds>(kKillGrace).count();
    display_.note(formatted("vexal-station: ending %zu running jobs; those still running in %lld s are killed",
                            runs_.running(), static_cast<long long>(grace)));
    runs_.signal_all(SIGTERM);
  }
}

void Station::kill_if_due() {
  if (!stop_.kill_due(now_) || runs_.running() == 0) return;
  display_.note(formatted("vexal-station: killing %zu jobs that did not end", runs_.running()));
  runs_.signal_all(SIGKILL);
}

bool Station::finished() const {
  const bool stopping = runs_.stopping();
  return runs_.running() == 0 && (runs_.none_waiting() || stopping) && (!options_.watch || stopping);
}

// Milliseconds until something is due without a descriptor saying so (-1: nothing is).
int Station::poll_timeout() const {
  std::optional<Clock::duration> wait;
  auto consider = [&](Clock::duration d) {
    if (!wait || d < *wait) wait = std::max(d, Clock::duration::zero());
  };
  auto consider_at = [&](std::optional<SteadyTime> at) {
    if (at) consider(*at - now_);
  };
  if (runs_.running() > 0) consider(kLiveInterval);  // the live table's time and rate columns move on
  if (watch_) consider_at(watch_->next(runs_.stopping()));
  consider_at(stop_.kill_at());
  consider_at(record_.due_at());
  if (auto display_due = display_.wake_interval()) consider(*display_due);
  if (!wait) return -1;
  return static_cast<int>(std::chrono::ceil<milliseconds>(*wait).count());
}

// One wait for whatever comes first. The jobs' pipes are one descriptor here (their epoll set), so a wait
// costs the same with 500 boards running as with one, and only the pipes that are ready are read.
void Station::poll_once() {
  std::vector<pollfd> fds{{signals_.fd(), POLLIN, 0}, {runs_.pipes_fd(), POLLIN, 0}};
  const bool watching = watch_ && watch_->fd() >= 0;
  if (watching) fds.push_back({watch_->fd(), POLLIN, 0});
  if (display_.wake_fd() >= 0) fds.push_back({display_.wake_fd(), POLLIN, 0});
  int ready = ::poll(fds.data(), fds.size(), poll_timeout());
  now_ = Clock::now();
  display_.serve();  // a window's close arrives as a SIGINT, read below
  if (ready > 0) {
    if (fds[1].revents != 0) runs_.read_ready(now_);
    if (watching && fds[2].revents != 0) watch_->on_device_changes(now_);
    if (fds[0].revents != 0) on_signals();  // last: it may end jobs
  }
  kill_if_due();
  relist_if_due();
  record_.write_if_due(runs_.boards().all(), now_, display_);
}

// Watch mode shows the latest job of each port still plugged in (or still running); otherwise every board.
const std::vector<const Board*>& Station::shown_boards() {
  BoardList& boards = runs_.boards();
  return watch_ ? boards.latest_of(watch_->shown()) : boards.all();
}

int Station::conclude() {
  now_ = Clock::now();
  display_.show(shown_boards(), now_, true);
  display_.close();
  const std::vector<const Board*>& boards = runs_.boards().all();
  const bool reports_written = record_.write(boards, now_, true, display_);
  for (const std::string& line : summary_lines(boards, record_.since_start(now_))) display_.note(line);
  const bool none_expected = options_.watch;  // a quiet bench is no failure; an empty --all or --ports is
  return runs_.all_passed() && reports_written && (!boards.empty() || none_expected) ? 0 : kFailedStatus;
}

int run_station(const StationSetup& setup, Display& display) {
  Station station(setup, display);
  return station.run();
}

}  // namespace vx::station
