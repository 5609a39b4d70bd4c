#include "frontends/station/os/job_pool.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vx::station {

namespace {

// Job pipes that are ready, taken from the epoll set in one wait.
constexpr int kReadyAtOnce = 64;
constexpr std::size_t kReadChunk = 4096;
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

}  // namespace

JobCapacity job_capacity(unsigned wanted) {
  const std::size_t fd_jobs = jobs_within_descriptor_limit();
  const bool by_option = wanted != 0 && wanted <= fd_jobs;
  return JobCapacity{by_option ? wanted : fd_jobs, by_option};
}

EpollSet::~EpollSet() {
  if (fd_ >= 0) ::close(fd_);
}

bool EpollSet::open(std::string& why) {
  fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (fd_ >= 0) return true;
  why = std::string("can't wait for the jobs' events: ") + std::strerror(errno);
  return false;
}

bool EpollSet::add(int fd, std::size_t tag, std::string& why) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = tag;
  if (::epoll_ctl(fd_, EPOLL_CTL_ADD, fd, &event) == 0) return true;
  why = std::string("can't wait for the job's events: ") + std::strerror(errno);
  return false;
}

// A descriptor that was never added (its add failed) is not in the set: nothing to undo then.
void EpollSet::remove(int fd) { static_cast<void>(::epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr)); }

std::vector<std::size_t> EpollSet::ready(int most) {
  std::vector<epoll_event> events(static_cast<std::size_t>(most));
  int got = ::epoll_wait(fd_, events.data(), most, 0);
  std::vector<std::size_t> tags;
  for (int i = 0; i < got; ++i) tags.push_back(static_cast<std::size_t>(events[static_cast<std::size_t>(i)].data.u64));
  return tags;
}

bool JobPool::open(std::string& why) { return pipes_.open(why); }

std::optional<std::size_t> JobPool::next_to_start() {
  if (queue_.empty() || running_.size() >= capacity_.jobs) return std::nullopt;
  const std::size_t board = queue_.front();
  queue_.pop_front();
  return board;
}

std::vector<std::size_t> JobPool::take_waiting() {
  std::vector<std::size_t> waiting(queue_.begin(), queue_.end());
  queue_.clear();
  return waiting;
}

JobPool::Started JobPool::start(std::size_t board, const std::string& program, const std::vector<std::string>& args,
                                const std::string& log_path, std::string& why) {
  Child child;
  if (!spawn_job(program, args, log_path, child, why)) return Started::Failed;
  running_.emplace(board, RunningJob{child, {}, true});
  // Unwatched, the pipe is still read when its vexal ends: the board's phases are missed, not its end.
  return pipes_.add(child.events_fd, board, why) ? Started::Watched : Started::Unwatched;
}

void JobPool::read_ready(const LineSink& lines) {
  for (std::size_t board : pipes_.ready(kReadyAtOnce)) read_events(board, running_.at(board), lines);
}

void JobPool::read_events(std::size_t board, RunningJob& job, const LineSink& lines) {
  char buffer[kReadChunk];
  while (job.pipe_open) {
    ssize_t got = ::read(job.child.events_fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {  // end of file: its vexal has ended (or closed the pipe)
      close_events(job);
      return;
    }
    job.lines.feed(std::string_view(buffer, static_cast<std::size_t>(got)),
                   [&](std::string_view line) { lines(board, line); });
  }
}

void JobPool::close_events(RunningJob& job) {
  pipes_.remove(job.child.events_fd);
  ::close(job.child.events_fd);
  job.pipe_open = false;
}

void JobPool::reap(const LineSink& lines, const EndSink& ended) {
  std::vector<std::pair<std::size_t, int>> reaped;
  for (const auto& [board, job] : running_) {
    int status = 0;
    if (::waitpid(job.child.pid, &status, WNOHANG) == job.child.pid) reaped.emplace_back(board, status);
  }
  for (const auto& [board, status] : reaped) {
    RunningJob& job = running_.at(board);
    read_events(board, job, lines);  // what the pipe still holds; a writer it passed the pipe on to is not waited for
    if (job.pipe_open) close_events(job);
    running_.erase(board);
    ended(board, status);
  }
}

void JobPool::signal_all(int sig) {
  for (const auto& [board, job] : running_) {
    if (::kill(-job.child.pid, sig) != 0) ::kill(job.child.pid, sig);  // its group, else the process
  }
}

}  // namespace vx::station
