#include "frontends/station/station.h"

#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "frontends/station/model/job.h"
#include "frontends/station/model/placeholders.h"
#include "frontends/station/model/report.h"
#include "frontends/station/model/watch.h"
#include "frontends/station/os/child.h"
#include "frontends/station/os/devwatch.h"
#include "frontends/station/os/ports.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kListingLimit{10000};
constexpr milliseconds kSettle{300};
constexpr milliseconds kMinRelist{1000};
constexpr milliseconds kFallbackRelist{2000};
constexpr milliseconds kKillGrace{3000};
// While boards run the reports are rewritten at most this often (and once more at the end): each
// rewrite costs in proportion to the boards, so one after every board that ends would make the
// station's own cost per board grow with the bench.
constexpr milliseconds kReportInterval{1000};
// Job pipes that are ready, taken from the epoll set in one wait.
constexpr int kReadyAtOnce = 64;
constexpr int kFailedStatus = 1;
constexpr std::size_t kReadChunk = 4096;
constexpr const char* kNoLog = "/dev/null";
// Descriptors the station keeps for itself whatever runs (standard streams, signals, the device watch,
// a port listing's pipe, a report being written, the log and pipe of the job being started), and the
// one it holds per running job (the read end of its events pipe).
constexpr rlim_t kReservedDescriptors = 64;
constexpr rlim_t kDescriptorsPerJob = 1;

// Raises the soft open-file limit to the hard one; the number of jobs that can run at once within it.
std::size_t jobs_within_descriptor_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return SIZE_MAX;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised{limit.rlim_max, limit.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return limit.rlim_cur > kReservedDescriptors ? (limit.rlim_cur - kReservedDescriptors) / kDescriptorsPerJob : 1;
}

std::string utc_now() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  auto millis = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return formatted("%s.%03dZ", text, static_cast<int>(millis));
}

double own_cpu_seconds() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The job as a person would type it: arguments with blanks or quotes in single quotes.
std::string shown_command(const std::string& vexal, const std::vector<std::string>& job) {
  std::string line = last_component(vexal) + " --port {port}";
  for (const std::string& argument : job) {
    bool plain = !argument.empty() && argument.find_first_of(" \t'\"<>|&;") == std::string::npos;
    line += plain ? " " + argument : " '" + argument + "'";
  }
  return line;
}

// SIGCHLD, SIGINT, SIGTERM and SIGHUP, blocked and read from a descriptor.
class SignalChannel {
 public:
  ~SignalChannel() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open(std::string& why) {
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, sig);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) == 0) fd_ = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ >= 0) return true;
    why = std::string("can't take signals: ") + std::strerror(errno);
    return false;
  }
  int fd() const { return fd_; }
  // The signals that came since the last call, in order.
  std::vector<int> take() {
    std::vector<int> taken;
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
      taken.push_back(static_cast<int>(info.ssi_signo));
    return taken;
  }

 private:
  int fd_ = -1;
};

// An epoll set of descriptors, each tagged with a number; readable itself when one of them is.
class EpollSet {
 public:
  ~EpollSet() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open(std::string& why) {
    fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (fd_ >= 0) return true;
    why = std::string("can't wait for the jobs' events: ") + std::strerror(errno);
    return false;
  }
  int fd() const { return fd_; }
  // False with the reason when the kernel refuses (out of memory): the descriptor is not watched.
  bool add(int fd, std::size_t tag, std::string& why) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = tag;
    if (::epoll_ctl(fd_, EPOLL_CTL_ADD, fd, &event) == 0) return true;
    why = std::string("can't wait for the job's events: ") + std::strerror(errno);
    return false;
  }
  void remove(int fd) { ::epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr); }
  // The tags of up to `most` descriptors that are ready.
  std::vector<std::size_t> ready(int most) {
    std::vector<epoll_event> events(static_cast<std::size_t>(most));
    int got = ::epoll_wait(fd_, events.data(), most, 0);
    std::vector<std::size_t> tags;
    for (int i = 0; i < got; ++i)
      tags.push_back(static_cast<std::size_t>(events[static_cast<std::size_t>(i)].data.u64));
    return tags;
  }

 private:
  int fd_ = -1;
};

struct RunningJob {
  std::size_t board;
  Child child;
  EventLines lines;
  bool pipe_open = true;
};

}  // namespace

class Station {
 public:
  Station(const StationSetup& setup, Display& display) : setup_(setup), display_(display) {}
  int run();

 private:
  bool list_ports(std::vector<PortInfo>& listing, bool quiet);
  bool prepare_boards();
  bool names_distinct(const std::vector<PortInfo>& ports);
  void add_board(const PortInfo& port);
  std::string log_path_for(const std::string& name, int index);

  void start_ready_jobs();
  void start_job(std::size_t board_index);
  bool take_units(std::size_t board_index);
  bool within_limit() const;
  void count_end(const Board& board);
  void read_events(RunningJob& job);
  void reap_jobs();
  void end_job(std::size_t board_index, int wait_status);
  void close_events(RunningJob& job);
  void settle(std::size_t board_index);

  void open_watch();
  void relist();
  void relist_if_due();
  void on_device_changes();

  void on_signals();
  void escalate(int sig);
  void stop_starting(const std::string& reason = {});
  void signal_jobs(int sig);
  void kill_if_due();

  bool finished() const;
  int poll_timeout() const;
  void poll_once();
  double since_start() const { return std::chrono::duration<double>(now_ - started_).count(); }
  const std::vector<const Board*>& shown_boards();
  const std::vector<const Board*>& all_boards() const;
  bool write_reports(bool final = false);
  void write_reports_if_due();
  int conclude();

  const StationSetup& setup_;
  const Options& options_ = setup_.options;
  Display& display_;
  PortMatcher matcher_;
  SteadyTime started_{}, now_{};
  std::string started_utc_;
  std::deque<Board> boards_;                   // every job made, in order; a deque keeps the display's pointers valid
  std::deque<std::size_t> queue_;              // boards waiting for a free job slot
  std::map<std::size_t, RunningJob> running_;  // by board
  EpollSet job_pipes_;                         // the running jobs' event pipes, each tagged with its board
  std::set<std::string> log_names_;
  SignalChannel signals_;
  int stop_level_ = 0;  // 1 starts no more jobs, 2 has interrupted the running ones, 3 ends them
  bool stopping_ = false;
  std::optional<SteadyTime> kill_at_;  // when the jobs still running after the third stop are killed
  std::size_t max_jobs_ = 0;
  bool jobs_limited_by_option_ = false;  // --jobs, not the open-file limit, sets max_jobs_
  std::vector<std::string> job_;         // what each board runs, placeholders unreplaced
  std::string last_listing_problem_;
  bool refused_ = false;    // the boards found make the job refused: nothing runs
  std::size_t passed_ = 0;  // boards that passed, for --limit
  bool limit_reached_ = false;
  bool reports_stale_ = false;  // a board ended since the reports were last written
  SteadyTime reports_written_at_{};
  std::vector<const Board*> board_list_;     // boards_ in order, for the views
  std::vector<const Board*> watched_shown_;  // in watch mode, the boards shown_boards() gave last

  WatchTable table_;
  std::map<std::string, std::size_t> board_of_key_;  // the latest board of each watched port
  std::unique_ptr<DeviceWatcher> watcher_;
  std::optional<SteadyTime> relist_at_;
  SteadyTime last_listed_{};
};

int Station::run() {
  std::string why;
  if (!signals_.open(why) || !job_pipes_.open(why)) {
    display_.note("vexal-station: " + why);
    return kFailedStatus;
  }
  for (const std::string& pattern : options_.match) {
    if (!matcher_.add(pattern, why)) {  // checked with the options already
      display_.note("vexal-station: " + why);
      return kUsageStatus;
    }
  }
  now_ = started_ = Clock::now();
  started_utc_ = utc_now();
  job_ = job_to_run(options_.job, options_.identify);
  const std::size_t fd_jobs = jobs_within_descriptor_limit();
  jobs_limited_by_option_ = options_.jobs != 0 && options_.jobs <= fd_jobs;
  max_jobs_ = jobs_limited_by_option_ ? options_.jobs : fd_jobs;
  if (options_.watch) {
    open_watch();
  } else if (!prepare_boards()) {
    return refused_ ? kUsageStatus : conclude();
  }
  if (!write_reports()) return kFailedStatus;  // its folder was checked: something else stands in the way
  for (;;) {
    start_ready_jobs();
    if (finished()) break;
    display_.show(shown_boards(), now_, false);
    poll_once();
  }
  return conclude();
}

bool Station::list_ports(std::vector<PortInfo>& listing, bool quiet) {
  Captured listed;
  std::string problem;
  // Signals are taken while the ports are listed: a Ctrl-C then stops the listing too.
  const WaitInterrupt interrupt{signals_.fd(), [this] {
                                  on_signals();
                                  return !stopping_;
                                }};
  if (run_captured(setup_.vexal, {"--list-ports"}, kListingLimit, interrupt, listed, problem) &&
      !(WIFEXITED(listed.wait_status) && WEXITSTATUS(listed.wait_status) == 0))
    problem = setup_.vexal + " --list-ports failed (status " + std::to_string(listed.wait_status) + ")";
  if (problem.empty()) {
    listing = parse_port_listing(listed.output);
    last_listing_problem_.clear();
    return true;
  }
  if (!quiet && !stopping_ && problem != last_listing_problem_) display_.note("vexal-station: " + problem);
  last_listing_problem_ = problem;
  return false;
}

bool Station::prepare_boards() {
  std::vector<PortInfo> listing;
  std::vector<PortInfo> ports;
  bool listed = true;
  if (options_.all) {
    listed = list_ports(listing, false);
    ports = matching_ports(listing, matcher_);
  } else {
    list_ports(listing, true);  // only completes what is known of the ports given
    for (std::size_t i = 0; i < options_.ports.size(); ++i) {
      ports.push_back(port_from_path(options_.ports[i], listing));
      if (i < options_.port_names.size()) ports.back().name = options_.port_names[i];
    }
  }
  if (stopping_) {
    display_.note("vexal-station: stopped before any board started");
    return false;
  }
  if (!listed) return false;  // list_ports said why
  if (!names_distinct(ports)) return false;
  for (const PortInfo& port : ports) add_board(port);
  if (boards_.empty())
    display_.note("vexal-station: no ports found" + std::string(matcher_.empty() ? "" : " that match"));
  display_.note(formatted("%zu ports: ", boards_.size()) + shown_command(setup_.vexal, job_));
  if (boards_.size() > max_jobs_)
    display_.note(formatted("vexal-station: %zu jobs at once at most (%s); the others wait their turn", max_jobs_,
                            jobs_limited_by_option_ ? "--jobs" : "the open-file limit"));
  return !boards_.empty();
}

// Two boards whose placeholders make one argument the same (two ports named alike in different folders
// both writing id-{name}.bin) would write one file: the job is refused, naming both.
bool Station::names_distinct(const std::vector<PortInfo>& ports) {
  std::vector<PlaceholderValues> values;
  for (std::size_t i = 0; i < ports.size(); ++i)
    values.push_back({ports[i].device, short_name(ports[i]), static_cast<int>(i) + 1});
  std::optional<Collision> collision = colliding_argument(job_, values);
  if (!collision) return true;
  // A refusal of the command line, as main's: one line on standard error, before anything ran.
  std::fprintf(stderr,
               "vexal-station: %s and %s both make '%s' into %s: one would overwrite the other's file; "
               "use {index} or {port} to tell them apart\n",
               ports[collision->first].device.c_str(), ports[collision->second].device.c_str(),
               collision->argument.c_str(), collision->value.c_str());
  refused_ = true;
  return false;
}

void Station::add_board(const PortInfo& port) {
  Board board;
  board.index = static_cast<int>(boards_.size()) + 1;
  board.port = port;
  board.name = short_name(port);
  board.job = replace_placeholders(job_, {port.device, board.name, board.index});
  board.log_path = log_path_for(board.name, board.index);
  if (stopping_) skip_board(board);  // found by a listing that a Ctrl-C cut short
  boards_.push_back(std::move(board));
  board_list_.push_back(&boards_.back());
  if (!stopping_) queue_.push_back(boards_.size() - 1);
  if (options_.watch) board_of_key_[port_key(port)] = boards_.size() - 1;
}

// DIR/NAME.log; a name used before in this run (the same port again, in watch mode) adds the index.
std::string Station::log_path_for(const std::string& name, int index) {
  if (options_.logs_dir.empty()) return {};
  std::string base = file_name_safe(name);
  if (!log_names_.insert(base).second) {
    base += "-" + std::to_string(index);
    log_names_.insert(base);
  }
  return (std::filesystem::path(options_.logs_dir) / (base + ".log")).string();
}

void Station::start_ready_jobs() {
  now_ = Clock::now();  // listing the ports may have taken a while since the loop last looked
  while (!stopping_ && !queue_.empty() && running_.size() < max_jobs_ && within_limit()) {
    std::size_t board_index = queue_.front();
    queue_.pop_front();
    start_job(board_index);
  }
}

// --limit N: a board starts only while those that passed and those running are fewer than N (one that
// fails makes room for the next).
bool Station::within_limit() const { return options_.limit == 0 || passed_ + running_.size() < options_.limit; }

// The board's unit values, taken and committed before its job starts; false when none can be (a pool
// ran out, the database can't give one): this board and every waiting one end as not started.
bool Station::take_units(std::size_t board_index) {
  if (setup_.units == nullptr) return true;
  Board& board = boards_[board_index];
  board.started_utc = utc_now();
  std::string why;
  const UnitKeeper::Begun begun = setup_.units->begin(board, why);
  if (begun == UnitKeeper::Begun::Ready) return true;
  const std::string stop = begun == UnitKeeper::Begun::Exhausted ? "the " + why + " pool ran out" : why;
  std::fprintf(stderr, "vexal-station: %s: no new board starts\n", stop.c_str());
  display_.note("vexal-station: " + stop + ": no new board starts");
  queue_.push_front(board_index);
  stop_starting(stop);
  return false;
}

void Station::start_job(std::size_t board_index) {
  if (!take_units(board_index)) return;
  Board& board = boards_[board_index];
  std::vector<std::string> args{"--port", board.port.device};
  args.insert(args.end(), board.job.begin(), board.job.end());
  start_board(board, now_, utc_now());
  Child child;
  std::string why;
  if (!spawn_job(setup_.vexal, args, board.log_path.empty() ? kNoLog : board.log_path, child, why)) {
    fail_board(board, kNotRunCode, why, now_, utc_now());
    settle(board_index);
    return;
  }
  running_.emplace(board_index, RunningJob{board_index, child, {}, true});
  // Unwatched, the pipe is still read when its vexal ends: the board's phases are missed, not its end.
  if (!job_pipes_.add(child.events_fd, board_index, why)) display_.note("vexal-station: " + why);
}

void Station::read_events(RunningJob& job) {
  Board& board = boards_[job.board];
  char buffer[kReadChunk];
  while (job.pipe_open) {
    ssize_t got = ::read(job.child.events_fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {  // end of file: its vexal has ended (or closed the pipe)
      close_events(job);
      return;
    }
    job.lines.feed(std::string_view(buffer, static_cast<std::size_t>(got)), [&](std::string_view line) {
      std::optional<Event> event = parse_event(line);
      if (event && apply_event(board, *event, now_)) display_.changed(board, since_start());
    });
  }
}

void Station::close_events(RunningJob& job) {
  job_pipes_.remove(job.child.events_fd);
  ::close(job.child.events_fd);
  job.pipe_open = false;
}

void Station::reap_jobs() {
  std::vector<std::pair<std::size_t, int>> ended;
  for (const auto& [board_index, job] : running_) {
    int status = 0;
    if (::waitpid(job.child.pid, &status, WNOHANG) == job.child.pid) ended.emplace_back(board_index, status);
  }
  for (const auto& [board_index, status] : ended) end_job(board_index, status);
}

void Station::end_job(std::size_t board_index, int wait_status) {
  RunningJob& job = running_.at(board_index);
  read_events(job);  // what the pipe still holds; a writer it passed the pipe on to is not waited for
  if (job.pipe_open) close_events(job);
  finish_board(boards_[board_index], wait_status, now_, utc_now());
  running_.erase(board_index);
  settle(board_index);
}

// A board has ended: shown, its port's watch state moved on, the reports brought up to date.
void Station::settle(std::size_t board_index) {
  const Board& board = boards_[board_index];
  count_end(board);
  display_.changed(board, since_start());
  if (options_.watch && table_.job_ended(port_key(board.port)) && !stopping_)
    add_board(table_.port(port_key(board.port)));
  reports_stale_ = true;
}

// The board's record, and --limit's count.
void Station::count_end(const Board& board) {
  if (setup_.units) {
    const std::string why = setup_.units->end(board);
    if (!why.empty()) display_.note("vexal-station: " + why);
  }
  if (board.phase == Phase::Done) ++passed_;
  if (options_.limit != 0 && passed_ >= options_.limit && !stopping_) {
    display_.note(formatted("vexal-station: %zu boards passed (--limit): no new board starts", passed_));
    limit_reached_ = true;
    stop_starting(formatted("--limit %u reached", options_.limit));
  }
}

void Station::write_reports_if_due() {
  if (!reports_stale_ || now_ < reports_written_at_ + kReportInterval) return;
  write_reports();
}

void Station::open_watch() {
  std::string patterns;
  for (const std::string& pattern : options_.match) patterns += (patterns.empty() ? "" : " or ") + pattern;
  display_.note("watching " + setup_.dev_root + " for ports matching " + patterns +
                " (Ctrl-C ends): " + shown_command(setup_.vexal, job_));
  watcher_ = std::make_unique<DeviceWatcher>();
  std::string why;
  if (!watcher_->open(setup_.dev_root, why)) {
    display_.note("vexal-station: " + why + "; listing the ports every 2 s instead");
    watcher_.reset();
  }
  relist_at_ = now_;
}

void Station::relist() {
  std::vector<PortInfo> listing;
  last_listed_ = now_;
  if (!list_ports(listing, false)) return;
  for (const PortInfo& port : table_.scan(matching_ports(listing, matcher_))) add_board(port);
}

void Station::relist_if_due() {
  if (!options_.watch || stopping_) return;
  if (!watcher_ && !relist_at_) relist_at_ = last_listed_ + kFallbackRelist;
  if (relist_at_ && now_ >= *relist_at_) {
    relist_at_.reset();
    relist();
  }
}

void Station::on_device_changes() {
  DeviceChanges changes = watcher_->read_changes();
  for (const std::string& gone : changes.gone) table_.went_away(gone);
  if (changes.relist) relist_at_ = std::max(now_ + kSettle, last_listed_ + kMinRelist);
}

void Station::on_signals() {
  bool child_ended = false;
  for (int sig : signals_.take()) {
    if (sig == SIGCHLD) {
      child_ended = true;
    } else {
      escalate(sig);
    }
  }
  if (child_ended) reap_jobs();
}

// Ctrl-C once starts no more jobs; twice (or SIGTERM / SIGHUP at once) interrupts the running jobs as a
// Ctrl-C at their terminal would; once more ends them with SIGTERM and kills, after kKillGrace, any
// that still run (a job that ignores both would otherwise hold the station forever).
void Station::escalate(int sig) {
  const int before = stop_level_;
  stop_level_ = std::min(3, sig == SIGINT ? stop_level_ + 1 : std::max(stop_level_ + 1, 2));
  if (stop_level_ == before) return;
  stop_starting();
  if (stop_level_ == 2 && !running_.empty()) {
    display_.note(formatted("vexal-station: interrupting %zu running jobs (Ctrl-C again ends them)", running_.size()));
    signal_jobs(SIGINT);
  }
  if (stop_level_ == 3 && !running_.empty()) {
    display_.note(formatted("vexal-station: ending %zu running jobs; those still running in %lld s are killed",
                            running_.size(), static_cast<long long>(kKillGrace.count() / 1000)));
    signal_jobs(SIGTERM);
    kill_at_ = now_ + kKillGrace;
  }
}

// No more jobs start; the waiting boards end as not started, `reason` (else a Ctrl-C) said why.
void Station::stop_starting(const std::string& reason) {
  if (stopping_) return;
  stopping_ = true;
  for (std::size_t board_index : queue_) {
    skip_board(boards_[board_index]);
    if (!reason.empty()) boards_[board_index].error = "not started: " + reason;
    display_.changed(boards_[board_index], since_start());
  }
  queue_.clear();
  if (!running_.empty() && reason.empty())
    display_.note(formatted("vexal-station: stopping; waiting for %zu running jobs (Ctrl-C again interrupts them)",
                            running_.size()));
}

void Station::signal_jobs(int sig) {
  for (const auto& [board_index, job] : running_) {
    if (::kill(-job.child.pid, sig) != 0) ::kill(job.child.pid, sig);  // its group, else the process
  }
}

void Station::kill_if_due() {
  if (!kill_at_ || now_ < *kill_at_) return;
  kill_at_.reset();
  if (running_.empty()) return;
  display_.note(formatted("vexal-station: killing %zu jobs that did not end", running_.size()));
  signal_jobs(SIGKILL);
}

bool Station::finished() const {
  return running_.empty() && (queue_.empty() || stopping_) && (!options_.watch || stopping_);
}

// Milliseconds until something is due without a descriptor saying so (-1: nothing is).
int Station::poll_timeout() const {
  std::optional<Clock::duration> wait;
  auto consider = [&](Clock::duration d) {
    if (!wait || d < *wait) wait = std::max(d, Clock::duration::zero());
  };
  if (!running_.empty()) consider(kLiveInterval);  // the live table's time and rate columns move on
  if (relist_at_) consider(*relist_at_ - now_);
  if (kill_at_) consider(*kill_at_ - now_);
  if (reports_stale_) consider(reports_written_at_ + kReportInterval - now_);
  if (options_.watch && !watcher_ && !stopping_) consider(last_listed_ + kFallbackRelist - now_);
  if (auto display_due = display_.wake_interval()) consider(*display_due);
  if (!wait) return -1;
  return static_cast<int>(std::chrono::ceil<milliseconds>(*wait).count());
}

// One wait for whatever comes first. The jobs' pipes are one descriptor here (their epoll set), so a wait
// costs the same with 500 boards running as with one, and only the pipes that are ready are read.
void Station::poll_once() {
  std::vector<pollfd> fds{{signals_.fd(), POLLIN, 0}, {job_pipes_.fd(), POLLIN, 0}};
  if (watcher_) fds.push_back({watcher_->fd(), POLLIN, 0});
  if (display_.wake_fd() >= 0) fds.push_back({display_.wake_fd(), POLLIN, 0});
  int ready = ::poll(fds.data(), fds.size(), poll_timeout());
  now_ = Clock::now();
  display_.serve();  // a window's close arrives as a SIGINT, read below
  if (ready > 0) {
    if (fds[1].revents != 0) {
      for (std::size_t board_index : job_pipes_.ready(kReadyAtOnce)) read_events(running_.at(board_index));
    }
    if (watcher_ && fds[2].revents != 0) on_device_changes();
    if (fds[0].revents != 0) on_signals();  // last: it may end jobs
  }
  kill_if_due();
  relist_if_due();
  write_reports_if_due();
}

const std::vector<const Board*>& Station::all_boards() const { return board_list_; }

// Watch mode shows the latest job of each port still plugged in (or still running); otherwise every board.
const std::vector<const Board*>& Station::shown_boards() {
  if (!options_.watch) return all_boards();
  std::vector<const Board*>& shown = watched_shown_;
  shown.clear();
  for (const std::string& key : table_.shown()) {
    auto it = board_of_key_.find(key);
    if (it != board_of_key_.end()) shown.push_back(&boards_[it->second]);
  }
  std::sort(shown.begin(), shown.end(), [](const Board* a, const Board* b) { return a->index < b->index; });
  return shown;
}

bool Station::write_reports(bool final) {
  reports_stale_ = false;
  reports_written_at_ = now_;
  if (options_.report_file.empty() && options_.junit_file.empty()) return true;
  RunSummary run{setup_.version, host_name(),       options_.station, options_.operator_name,
                 options_.job,   options_.identify, started_utc_,     final ? utc_now() : std::string(),
                 since_start(),  own_cpu_seconds(), std::nullopt};
  if (setup_.units) run.database_seconds = setup_.units->seconds_spent();
  const std::vector<const Board*>& boards = all_boards();
  bool written = true;
  std::string why;
  if (!options_.report_file.empty() && !write_file_atomically(options_.report_file, json_report(run, boards), why)) {
    display_.note("vexal-station: " + why);
    written = false;
  }
  if (!options_.junit_file.empty() && !write_file_atomically(options_.junit_file, junit_report(run, boards), why)) {
    display_.note("vexal-station: " + why);
    written = false;
  }
  return written;
}

int Station::conclude() {
  now_ = Clock::now();
  display_.show(shown_boards(), now_, true);
  display_.close();
  const bool reports_written = write_reports(true);
  const std::vector<const Board*>& boards = all_boards();
  for (const std::string& line : summary_lines(boards, since_start())) display_.note(line);
  // Boards left waiting once --limit was reached are no failure: the run did what it was asked.
  const bool all_passed = std::all_of(boards.begin(), boards.end(), [this](const Board* b) {
    return b->phase == Phase::Done || (limit_reached_ && b->phase == Phase::NotStarted);
  });
  const bool none_expected = options_.watch;  // a quiet bench is no failure; an empty --all or --ports is
  return all_passed && reports_written && (!boards.empty() || none_expected) ? 0 : kFailedStatus;
}

std::string host_name() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

int run_station(const StationSetup& setup, Display& display) {
  Station station(setup, display);
  return station.run();
}

}  // namespace vx::station
