#include "console/finish.h"

#include <atomic>

#include "console/mprintf.h"

namespace vx {
namespace {
// Lock-free, so a signal handler may store into it.
std::atomic<int> g_interrupt_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
}  // namespace

void finish(ExitCode code) {
  check_interrupt();
  print_exit_code(code);
  throw RunEnded{exit_status(code)};
}

void print_exit_code(ExitCode code) { mprintf("Exit code %d", exit_status(code)); }

void request_interrupt(int signal_number) noexcept { g_interrupt_signal.store(signal_number); }
int interrupt_signal() noexcept { return g_interrupt_signal.load(); }

void check_interrupt() {
  const int signal_number = g_interrupt_signal.load();
  if (!signal_number) return;
  mprintf("Error: Interrupted.\n");
  throw RunEnded{signal_exit_status(signal_number), signal_number};
}

void interrupt_reset() noexcept { g_interrupt_signal.store(0); }

}  // namespace vx
