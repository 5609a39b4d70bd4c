#include "serial/port.h"

#include <algorithm>

#include "console/finish.h"
#include "protocol/frame.h"
#include "serial/link.h"
#include "serial/trace.h"

namespace vx {

Micros ReadWindow::wait_for_next(Micros since_start, std::optional<Micros> since_last_byte) const {
  Micros left = total - since_start;
  if (since_last_byte) left = std::min(left, inter_byte - *since_last_byte);
  return left;
}

namespace {
constexpr int kMaxStaleWindows = 8;

// One pass of the window rules: reads until the window closes, the buffer is full, or (with an early
// end) `complete` says the bytes so far are a whole answer.
template <typename Complete>
void run_window(ByteSource& src, const Clock& clock, std::uint8_t* buf, std::size_t cap,
                const ReadWindow& window, WindowResult& r, Complete complete) {
  while (r.n < cap && interrupt_signal() == 0) {
    const Micros now = clock.now();
    std::optional<Micros> since_last;
    if (r.last_byte) since_last = now - *r.last_byte;
    const Micros wait = window.wait_for_next(now - r.start, since_last);
    if (wait.count() <= 0) break;
    const std::size_t got = src.read_some(buf + r.n, cap - r.n, wait);
    if (!got) continue;
    r.n += got;
    r.last_byte = clock.now();
    if (complete(buf, r.n)) {
      r.ended_at_frame = true;
      break;
    }
  }
}
}  // namespace

WindowResult collect_window(ByteSource& src, const Clock& clock, std::uint8_t* buf, std::size_t cap,
                            const ReadWindow& window) {
  WindowResult r;
  r.start = clock.now();
  run_window(src, clock, buf, cap, window, r, [&](const std::uint8_t* bytes, std::size_t n) {
    return window.end_at_frame && ft12::answer_complete(bytes, n);
  });
  return r;
}

std::size_t AnswerReader::read(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) {
  last_ = collect_window(src_, clock_, buf, cap, window);
  last_window_ = window;
  last_cap_ = cap;
  return last_.n;
}

void AnswerReader::settle(Micros idle_gap) {
  if (last_.ended_at_frame) {
    drop_rest_of_early_window(idle_gap);
  } else if (last_.last_byte) {
    // Whatever comes now is a late answer and stays queued for the next exchange: only wait.
    clock_.sleep_for(*last_.last_byte + idle_gap - clock_.now());
  }
  last_ = WindowResult{};
}

// The full window would have gone on reading after the frame: bytes that follow within 15 ms of the
// last one (up to the buffer's size) belong to this answer and are dropped, never taken as the start
// of the next one. Meanwhile the line stays idle for the gap; once a trailing byte shows, the rest of
// the full window is waited out, exactly as the full window would have.
void AnswerReader::drop_rest_of_early_window(Micros idle_gap) {
  std::uint8_t scratch[ft12::kBufSize];
  std::size_t room = last_cap_ > last_.n ? last_cap_ - last_.n : 0;
  bool trailing = false;
  while (room > 0) {
    const Micros now = clock_.now();
    Micros wait;
    if (trailing) {
      wait = last_window_.wait_for_next(now - last_.start, now - *last_.last_byte);
      if (wait.count() <= 0) break;
    } else {
      wait = std::max(Micros(0), *last_.last_byte + idle_gap - now);
    }
    const std::size_t got = src_.read_some(scratch, std::min(room, sizeof scratch), wait);
    if (!got) {
      if (!trailing && wait.count() == 0) break;
      continue;
    }
    trace_dropped(scratch, got);
    room -= got;
    trailing = true;
    last_.last_byte = clock_.now();
  }
}

// The settings and the opener are part of the link's state, which belongs to the loader's thread: no
// lock. A front-end sets them after fresh_run, before the run starts.
void set_link_settings(LinkSettings settings) { link_state().settings = std::move(settings); }
const LinkSettings& link_settings() { return link_state().settings; }

namespace {
std::string device_in(const std::map<std::string, std::string>& devices, const std::string& com_name) {
  const auto it = devices.find(com_name);
  return it == devices.end() ? std::string() : it->second;
}
}  // namespace

std::string named_port_device(const std::string& com_name) {
  return device_in(link_settings().named_devices, com_name);
}

std::string environment_port_device(const std::string& com_name) {
  return device_in(link_settings().environment_devices, com_name);
}

void set_port_opener(PortOpener opener) { link_state().opener = std::move(opener); }

OpenResult open_port(const std::string& com_name, const LineSettings& settings) {
  const PortOpener& opener = link_state().opener;
  if (opener) return opener(com_name, settings);
  OpenResult r = open_platform_port(com_name, settings);
  if (r.port) drop_until_silent(*r.port, 1, kMaxStaleWindows);
  return r;
}

void drop_until_silent(Port& port, int min_windows, int max_windows) {
  std::uint8_t scratch[ft12::kBufSize];
  for (int window = 0; window < max_windows; ++window) {
    const std::size_t got = port.read_window(scratch, sizeof scratch, ReadWindow::for_read_of(sizeof scratch));
    if (got) trace_dropped(scratch, got);
    if (got == 0 && window + 1 >= min_windows) return;
  }
}

}  // namespace vx
