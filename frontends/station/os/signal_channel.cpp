#include "frontends/station/os/signal_channel.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vx::station {

SignalChannel::~SignalChannel() {
  if (fd_ >= 0) ::close(fd_);
}

bool SignalChannel::open(std::string& why) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, sig);
  if (::sigprocmask(SIG_BLOCK, &signals, nullptr) == 0) fd_ = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ >= 0) return true;
  why = std::string("can't take signals: ") + std::strerror(errno);
  return false;
}

std::vector<int> SignalChannel::take() {
  std::vector<int> taken;
  signalfd_siginfo info{};
  while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
    taken.push_back(static_cast<int>(info.ssi_signo));
  return taken;
}

}  // namespace vx::station
