#include "serial/port.h"

#include <algorithm>
#include <mutex>

namespace vx {

Millis ReadWindow::wait_for_next(Millis since_start, std::optional<Millis> since_last_byte) const {
  Millis left = total - since_start;
  if (since_last_byte) left = std::min(left, inter_byte - *since_last_byte);
  return left;
}

namespace {
class SteadyClock : public Clock {
 public:
  Millis now() const override {
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
  }
};

std::mutex g_opener_lock;
PortOpener g_opener;
}  // namespace

const Clock& steady_clock() {
  static const SteadyClock clock;
  return clock;
}

std::size_t collect_window(ByteSource& src, const Clock& clock, std::uint8_t* buf, std::size_t cap,
                           const ReadWindow& window) {
  const Millis start = clock.now();
  std::optional<Millis> last_byte;
  std::size_t n = 0;
  while (n < cap) {
    const Millis now = clock.now();
    std::optional<Millis> since_last;
    if (last_byte) since_last = now - *last_byte;
    const Millis wait = window.wait_for_next(now - start, since_last);
    if (wait.count() <= 0) break;
    const std::size_t got = src.read_some(buf + n, cap - n, wait);
    if (got) {
      n += got;
      last_byte = clock.now();
    }
  }
  return n;
}

void set_port_opener(PortOpener opener) {
  std::lock_guard<std::mutex> hold(g_opener_lock);
  g_opener = std::move(opener);
}

OpenResult open_port(const std::string& com_name, const LineSettings& settings) {
  PortOpener opener;
  {
    std::lock_guard<std::mutex> hold(g_opener_lock);
    opener = g_opener;
  }
  return opener ? opener(com_name, settings) : open_platform_port(com_name, settings);
}

}  // namespace vx
