#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "console/finish.h"
#include "frontends/terminal/interrupt.h"

namespace vx {
namespace {

// A dropped session (SIGHUP) ends a run as Ctrl-C and SIGTERM do: the file being written is closed
// and the port released, where the default action would leave both behind.
constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP};

void on_signal(int signal_number) { request_interrupt(signal_number); }

}  // namespace

void catch_interruptions() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read or open returns, and the run sees the request
  for (int signal_number : kCaught) static_cast<void>(::sigaction(signal_number, &action, nullptr));
  // A reader that went away (`vexal job | head -3`, an events pipe closed early) must not kill a run
  // half way through a download: the write fails with EPIPE instead, and its writer says so once.
  static_cast<void>(::signal(SIGPIPE, SIG_IGN));
}

void end_by_signal(int signal_number) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  static_cast<void>(::sigaction(signal_number, &action, nullptr));
  static_cast<void>(::raise(signal_number));
  // Not reached: the default action of SIGINT, SIGTERM and SIGHUP ends the process.
  std::_Exit(signal_exit_status(signal_number));
}

}  // namespace vx
