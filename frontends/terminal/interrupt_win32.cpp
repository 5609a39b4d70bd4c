#include <csignal>
#include <cstdlib>

#include "console/finish.h"
#include "frontends/terminal/interrupt.h"

namespace vx {
namespace {

void on_signal(int signal_number) {
  request_interrupt(signal_number);
  // The C library resets the handler before calling it: catch the next one too.
  static_cast<void>(std::signal(signal_number, on_signal));
}

}  // namespace

void catch_interruptions() {
  static_cast<void>(std::signal(SIGINT, on_signal));
  static_cast<void>(std::signal(SIGTERM, on_signal));
}

void end_by_signal(int signal_number) {
  static_cast<void>(std::signal(signal_number, SIG_DFL));
  static_cast<void>(std::raise(signal_number));
  std::_Exit(signal_exit_status(signal_number));
}

}  // namespace vx
