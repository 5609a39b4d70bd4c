// Starting vexal as a child process, the only way the station talks to the loader.
//
// Each job's vexal runs in its own process group, so the Ctrl-C a terminal sends to its foreground
// group reaches the station alone (which then decides what the jobs get), with the signal mask and
// dispositions of a fresh process. Its standard input is /dev/null, its standard output and error go
// to the board's log file, and the write end of a pipe is passed under its own number, named in
// VEXAL_EVENTS; every other descriptor of the station is close-on-exec, so a pipe reaches its end of
// file exactly when its vexal has ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vx::station {

struct Child {
  pid_t pid = -1;
  int events_fd = -1;  // read end of the events pipe, non-blocking, close-on-exec
};

// Starts `program` with `args` (without argv[0]) as described above; the console goes to `log_path`
// ("/dev/null" when logs are not kept), opened without following a symbolic link and only when it is
// a regular file or new (or /dev/null itself), then emptied. False with the reason when it could not
// be started.
bool spawn_job(const std::string& program, const std::vector<std::string>& args, const std::string& log_path,
               Child& child, std::string& why);

struct Captured {
  int wait_status = 0;
  std::string output;  // standard output
};

// While run_captured waits: `fd` became readable; `handle` deals with it and says whether to wait on.
struct WaitInterrupt {
  int fd = -1;
  std::function<bool()> handle;
};

// Runs `program` with `args` to its end (killed after `limit`, or when `interrupt.handle` says not to
// wait on), standard output captured, standard error passed through. False with the reason when it
// could not be started or had to be killed.
bool run_captured(const std::string& program, const std::vector<std::string>& args, std::chrono::milliseconds limit,
                  const WaitInterrupt& interrupt, Captured& result, std::string& why);

// The vexal to run: beside the station's own executable when there is one, else "vexal" from PATH.
std::string default_vexal();

}  // namespace vx::station
