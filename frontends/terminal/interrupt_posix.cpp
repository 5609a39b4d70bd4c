#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "console/finish.h"
#include "frontends/terminal/interrupt.h"

namespace vx {
namespace {

constexpr int kCaught[] = {SIGINT, SIGTERM};

void on_signal(int signal_number) { request_interrupt(signal_number); }

}  // namespace

void catch_interruptions() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read or open returns, and the run sees the request
  for (int signal_number : kCaught) static_cast<void>(::sigaction(signal_number, &action, nullptr));
}

void end_by_signal(int signal_number) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  static_cast<void>(::sigaction(signal_number, &action, nullptr));
  static_cast<void>(::raise(signal_number));
  // Not reached: the default action of SIGINT and SIGTERM ends the process.
  std::_Exit(128 + signal_number);
}

}  // namespace vx
