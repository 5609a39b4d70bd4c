// Running vq3140-sim and the loader as child processes, for end-to-end tests.
//
// SimProcess starts the simulator with --link in a directory of the caller's and waits until the link
// exists (the simulator makes it only once its line is ready). stop() sends a signal and reaps it, so the
// dump and the log are complete when it returns. run_program runs a program to its end with extra
// environment variables and collects its standard output, killing it when it overruns its time.
// Header-only, so a test program needs nothing linked for it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vx::board::testing {

using Clock = std::chrono::steady_clock;

struct Exit {
  int status = -1;  // the exit status, or -1 when ended by a signal
  int signal = 0;
  std::string out;  // standard output
};

inline Exit exit_of(int wait_status) {
  Exit e;
  if (WIFEXITED(wait_status)) e.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) e.signal = WTERMSIG(wait_status);
  return e;
}

// Forks and executes argv[0] with `env` added; the child's standard output goes to `out_fd` (or stays),
// its standard error to `err_file` (or stays).
inline pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env,
                   int out_fd, const std::string& err_file) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (out_fd >= 0) dup2(out_fd, STDOUT_FILENO);
  if (!err_file.empty()) {
    int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, STDERR_FILENO);
  }
  for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

inline Exit run_program(const std::vector<std::string>& argv,
                        const std::vector<std::pair<std::string, std::string>>& env = {},
                        std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  int pipefd[2];
  if (pipe(pipefd) != 0) throw std::runtime_error("pipe");
  pid_t pid = spawn(argv, env, pipefd[1], "");
  close(pipefd[1]);
  std::string out;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{pipefd[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
      kill(pid, SIGKILL);  // overran its time
      break;
    }
    char buf[4096];
    ssize_t n = read(pipefd[0], buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  close(pipefd[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  Exit e = exit_of(st);
  e.out = std::move(out);
  return e;
}

class SimProcess {
 public:
  // Starts bin_dir/vq3140-sim --link `link` with `args`; its standard error goes to `err_file`.
  SimProcess(const std::string& bin_dir, const std::string& link, std::vector<std::string> args,
             const std::string& err_file = "/dev/null")
      : link_(link) {
    std::vector<std::string> argv{bin_dir + "/vq3140-sim", "--link", link};
    argv.insert(argv.end(), args.begin(), args.end());
    int devnull = open("/dev/null", O_WRONLY);
    pid_ = spawn(argv, {}, devnull, err_file);
    if (devnull >= 0) close(devnull);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() {
    if (pid_ > 0) stop(SIGKILL);
  }

  // True once the link leads to the device (false when the simulator ended or took longer than `limit`).
  // stat, not lstat: a stale link left by an earlier run must not pass for the new one.
  bool ready(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + limit;
    struct stat st {};
    while (Clock::now() < deadline) {
      if (stat(link_.c_str(), &st) == 0) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        finished_ = exit_of(status);
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  Exit stop(int sig = SIGTERM) {
    if (pid_ <= 0) return finished_;
    kill(pid_, sig);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    finished_ = exit_of(status);
    return finished_;
  }

  pid_t pid() const { return pid_; }

 private:
  std::string link_;
  pid_t pid_ = -1;
  Exit finished_;
};

}  // namespace vx::board::testing
