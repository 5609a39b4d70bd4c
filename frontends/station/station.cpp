#include "frontends/station/station.h"

#include <poll.h>
#include <signal.h>

#include <optional>

#include "frontends/station/board_runs.h"
#include "frontends/station/model/job.h"
#include "frontends/station/model/stop_policy.h"
#include "frontends/station/os/port_lister.h"
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
        lister_(setup.vexal) {}
  int run();

 private:
  bool list_ports(std::vector<PortInfo>& listing, bool quiet);
  bool prepare_boards();
  void announce();
  void open_watch();
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
  PortMatcher matcher_;
  SteadyTime now_{};
  RunRecord record_;
  BoardRuns runs_;
  SignalChannel signals_;
  StopPolicy stop_;
  PortLister lister_;
  bool refused_ = false;            // the boards found make the job refused: nothing runs
  std::optional<WatchMode> watch_;  // in watch mode
};

int Station::run() {
  std::string why;
  if (!signals_.open(why) || !runs_.open(why)) {
    display_.note("vexal-station: " + why);
    return kFailedStatus;
  }
  for (const std::string& pattern : options_.match) {
    if (!matcher_.add(pattern, why)) {  // checked with the options already
      display_.note("vexal-station: " + why);
      return kUsageStatus;
    }
  }
  now_ = Clock::now();
  record_.start(now_);
  if (options_.watch) {
    open_watch();
  } else if (!prepare_boards()) {
    return refused_ ? kUsageStatus : conclude();
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

bool Station::list_ports(std::vector<PortInfo>& listing, bool quiet) {
  // Signals are taken while the ports are listed: a Ctrl-C then stops the listing too.
  const WaitInterrupt interrupt{signals_.fd(), [this] {
                                  on_signals();
                                  return !runs_.stopping();
                                }};
  std::string news;
  if (lister_.list(interrupt, listing, news)) return true;
  if (!quiet && !runs_.stopping() && !news.empty()) display_.note("vexal-station: " + news);
  return false;
}

// --all: the ports listed that match; --ports: those given, completed by what the listing knows.
bool Station::prepare_boards() {
  std::vector<PortInfo> listing;
  std::vector<PortInfo> ports;
  bool listed = true;
  if (options_.all) {
    listed = list_ports(listing, false);
    ports = matching_ports(listing, matcher_);
  } else {
    static_cast<void>(list_ports(listing, true));  // only completes what is known of the ports given
    ports = ports_from_paths(options_.ports, options_.port_names, listing);
  }
  if (runs_.stopping()) display_.note("vexal-station: stopped before any board started");
  if (runs_.stopping() || !listed) return false;  // list_ports said why it failed
  // A refusal of the command line, as main's: one line on standard error, before anything ran.
  const std::string collision = colliding_boards_problem(ports, runs_.boards().job());
  refused_ = !collision.empty();
  if (refused_) {
    display_.error_line(collision);
    return false;
  }
  for (const PortInfo& port : ports) runs_.add(port);
  announce();
  return !runs_.boards().empty();
}

// The boards found, the job they run, and whether they wait their turn.
void Station::announce() {
  const BoardList& boards = runs_.boards();
  if (boards.empty())
    display_.note("vexal-station: no ports found" + std::string(matcher_.empty() ? "" : " that match"));
  display_.note(formatted("%zu ports: ", boards.size()) + shown_command(setup_.vexal, boards.job()));
  const JobCapacity& capacity = runs_.capacity();
  if (boards.size() > capacity.jobs)
    display_.note(formatted("vexal-station: %zu jobs at once at most (%s); the others wait their turn", capacity.jobs,
                            capacity.set_by_option ? "--jobs" : "the open-file limit"));
}

void Station::open_watch() {
  std::string patterns;
  for (const std::string& pattern : options_.match) patterns += (patterns.empty() ? "" : " or ") + pattern;
  display_.note("watching " + setup_.dev_root + " for ports matching " + patterns +
                " (Ctrl-C ends): " + shown_command(setup_.vexal, runs_.boards().job()));
  std::string why;
  if (!watch_.emplace().open(setup_.dev_root, now_, why))
    display_.note("vexal-station: " + why + "; listing the ports every 2 s instead");
  runs_.watch_with(&*watch_);
}

void Station::relist_if_due() {
  if (!watch_ || runs_.stopping() || !watch_->relist_due(now_)) return;
  std::vector<PortInfo> listing;
  if (!list_ports(listing, false)) return;
  for (const PortInfo& port : watch_->scan(matching_ports(listing, matcher_))) runs_.add(port);
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
