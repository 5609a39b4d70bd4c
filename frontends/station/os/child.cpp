#include "frontends/station/os/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace vx::station {

namespace {

constexpr const char* kEventsVariable = "VEXAL_EVENTS";

// The actions and attributes of one posix_spawn, released on every path; the first failing set-up
// call is kept and reported by spawn().
class SpawnPlan {
 public:
  SpawnPlan() {
    note(::posix_spawn_file_actions_init(&actions_));
    note(::posix_spawnattr_init(&attributes_));
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE}) sigaddset(&defaults, sig);
    note(::posix_spawnattr_setsigmask(&attributes_, &none));
    note(::posix_spawnattr_setsigdefault(&attributes_, &defaults));
    note(::posix_spawnattr_setpgroup(&attributes_, 0));
    note(::posix_spawnattr_setflags(&attributes_,
                                    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));
  }
  ~SpawnPlan() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnPlan(const SpawnPlan&) = delete;
  SpawnPlan& operator=(const SpawnPlan&) = delete;

  void open_null_input() {
    note(::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
  }
  // `fd` as `target` in the child; with target == fd it only loses close-on-exec there.
  void pass(int fd, int target) { note(::posix_spawn_file_actions_adddup2(&actions_, fd, target)); }

  // The child's pid, or -1 with errno's text in `why`.
  pid_t spawn(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& environment, std::string& why);

 private:
  void note(int status) {
    if (status_ == 0) status_ = status;
  }
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
  int status_ = 0;
};

std::vector<char*> pointers_to(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

pid_t SpawnPlan::spawn(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& environment, std::string& why) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argv_pointers = pointers_to(argv), env_pointers = pointers_to(environment);
  pid_t pid = -1;
  int status = status_ != 0 ? status_
                            : ::posix_spawnp(&pid, program.c_str(), &actions_, &attributes_, argv_pointers.data(),
                                             env_pointers.data());
  if (status == 0) return pid;
  why = "can't run " + program + ": " + std::strerror(status);
  return -1;
}

// The station's environment with VEXAL_EVENTS set to `events` (or left out when "").
std::vector<std::string> child_environment(const std::string& events) {
  std::vector<std::string> environment;
  const std::string prefix = std::string(kEventsVariable) + "=";
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) environment.emplace_back(*entry);
  }
  if (!events.empty()) environment.push_back(prefix + events);
  return environment;
}

bool set_nonblocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags != -1 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A close-on-exec pipe whose read end (fds[0]) doesn't block: the station reads many at once.
bool make_reading_pipe(int fds[2], std::string& why) {
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    why = std::string("can't make a pipe: ") + std::strerror(errno);
    return false;
  }
  if (set_nonblocking(fds[0])) return true;
  why = std::string("can't set up a pipe: ") + std::strerror(errno);
  ::close(fds[0]);
  ::close(fds[1]);
  return false;
}

// Appends what `fd` holds until its end of file; false at `deadline` or when `interrupt` says to stop.
bool read_until_end(int fd, std::chrono::steady_clock::time_point deadline, const WaitInterrupt& interrupt,
                    std::string& out, bool& stopped) {
  char buffer[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {interrupt.fd, POLLIN, 0}};
    int ready = ::poll(fds, interrupt.fd >= 0 ? 2 : 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (interrupt.fd >= 0 && fds[1].revents != 0 && !interrupt.handle()) {
      stopped = true;
      return false;
    }
    if (fds[0].revents == 0) continue;
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) return true;
    out.append(buffer, static_cast<std::size_t>(got));
  }
}

// What keeps the log open at `fd` from being written as spawn_job says; "" when nothing does.
std::string log_problem(int fd, const std::string& path) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::strerror(errno);
  if (S_ISREG(info.st_mode)) return ::ftruncate(fd, 0) == 0 ? std::string() : std::strerror(errno);
  if (!S_ISCHR(info.st_mode) || path != "/dev/null") return "not a regular file";
  return {};
}

// The log, opened for writing as spawn_job says; -1 with the reason.
int open_log(const std::string& path, std::string& why) {
  // O_NONBLOCK: a FIFO planted in the log's place fails at once instead of waiting for a reader.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  std::string problem =
      fd < 0 ? (errno == ELOOP ? "a symbolic link (not followed)" : std::strerror(errno)) : log_problem(fd, path);
  if (problem.empty() && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) problem = std::strerror(errno);
  if (problem.empty()) return fd;
  why = "can't write the log " + path + ": " + problem;
  if (fd >= 0) ::close(fd);
  return -1;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

bool spawn_job(const std::string& program, const std::vector<std::string>& args, const std::string& log_path,
               Child& child, std::string& why) {
  int log = open_log(log_path, why);
  if (log < 0) return false;
  int events[2];
  pid_t pid = -1;
  if (make_reading_pipe(events, why)) {
    SpawnPlan plan;
    plan.open_null_input();
    plan.pass(log, STDOUT_FILENO);
    plan.pass(log, STDERR_FILENO);
    plan.pass(events[1], events[1]);
    pid = plan.spawn(program, args, child_environment(std::to_string(events[1])), why);
    ::close(events[1]);
    if (pid < 0) ::close(events[0]);
  }
  ::close(log);
  if (pid < 0) return false;
  child = Child{pid, events[0]};
  return true;
}

bool run_captured(const std::string& program, const std::vector<std::string>& args, std::chrono::milliseconds limit,
                  const WaitInterrupt& interrupt, Captured& result, std::string& why) {
  int output[2];
  if (!make_reading_pipe(output, why)) return false;
  SpawnPlan plan;
  plan.open_null_input();
  plan.pass(output[1], STDOUT_FILENO);
  pid_t pid = plan.spawn(program, args, child_environment(""), why);
  ::close(output[1]);
  if (pid < 0) {
    ::close(output[0]);
    return false;
  }
  result = Captured{};
  bool stopped = false;
  bool ended = read_until_end(output[0], std::chrono::steady_clock::now() + limit, interrupt, result.output, stopped);
  ::close(output[0]);
  if (!ended) {
    ::kill(pid, SIGKILL);
    why = stopped ? program + " was stopped" : program + " did not end within " + std::to_string(limit.count()) + " ms";
  }
  result.wait_status = wait_for(pid);
  return ended;
}

std::string default_vexal() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    std::filesystem::path beside = self.parent_path() / "vexal";
    if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return "vexal";
}

}  // namespace vx::station
