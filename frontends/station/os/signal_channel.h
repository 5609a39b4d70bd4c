// The signals the station takes, read from a descriptor in its poll loop rather than in handlers.
//
// SIGCHLD (a job's vexal ended), SIGINT, SIGTERM and SIGHUP are blocked and read through a signalfd:
// the loop sleeps on its descriptor beside the jobs' pipes and learns of each signal in order, on its
// own thread, with nothing done in a handler. A job's vexal starts with the signal mask of a fresh
// process (child.h), so the blocking stays the station's.
#pragma once

#include <string>
#include <vector>

namespace vx::station {

class SignalChannel {
 public:
  SignalChannel() = default;
  ~SignalChannel();
  SignalChannel(const SignalChannel&) = delete;
  SignalChannel& operator=(const SignalChannel&) = delete;

  // Blocks the four signals and opens the descriptor; false with the reason when the kernel refuses.
  bool open(std::string& why);

  // Readable when a signal came (-1 before open()).
  int fd() const { return fd_; }

  // The signals that came since the last call, in order (never blocks).
  std::vector<int> take();

 private:
  int fd_ = -1;
};

}  // namespace vx::station
