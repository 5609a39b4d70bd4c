#include "serial/port.h"

#include <algorithm>
#include <cstring>

#include "console/finish.h"
#include "protocol/frame.h"
#include "serial/link.h"
#include "serial/port_net.h"
#include "serial/port_url.h"
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
void run_window(ByteSource& src, const Clock& clock, std::uint8_t* buf, std::size_t cap, const ReadWindow& window,
                WindowResult& r, Complete complete) {
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
  last_held_answer_ = ft12::answer_complete(buf, last_.n);
  exchange_.take(buf, last_.n);
  return last_.n;
}

void AnswerReader::settle(Micros idle_gap, const std::uint8_t* request, std::size_t n) {
  if (last_.ended_at_frame) {
    drop_rest_of_early_window(idle_gap);
  } else if (filled_with_answer()) {
    drop_rest_of_full_buffer();
  } else if (last_.last_byte) {
    // After a window without a complete answer, whatever comes now is a late answer and stays queued
    // for the next exchange: only wait.
    clock_.sleep_for(*last_.last_byte + idle_gap - clock_.now());
  }
  const bool asked = !exchange_.request.empty();  // before the first request nothing went unanswered
  const bool answered = judge_exchange();
  if (answered) drop_unsolicited(clock_.now());
  answered_before_ = answered || !asked;
  last_ = WindowResult{};
  last_held_answer_ = false;
  exchange_ = Exchange{};
  exchange_.request.assign(request, request + n);
}

// A last request sent again after an unanswered attempt may still get that attempt's late answer: it is
// no answer nobody asked for, and the next run's opening drops it.
void AnswerReader::listen_after_last_answer(Micros idle_gap) {
  if (last_.ended_at_frame) drop_rest_of_early_window(idle_gap);
  if (filled_with_answer()) drop_rest_of_full_buffer();
  const bool retried = !answered_before_;
  if (judge_exchange() && !retried && last_.last_byte) drop_unsolicited(*last_.last_byte + last_window_.inter_byte);
  exchange_ = Exchange{};
  last_ = WindowResult{};
  last_held_answer_ = false;
}

void AnswerReader::Exchange::take(const std::uint8_t* p, std::size_t n) {
  const std::size_t room = sizeof bytes - size;
  const std::size_t k = std::min(n, room);
  std::memcpy(bytes + size, p, k);
  size += k;
}

namespace {
bool begins_frame(const std::uint8_t* p, std::size_t n) {
  return n >= ft12::kHeaderSize && p[0] == ft12::kStart && p[1] == p[2] && p[3] == ft12::kStart;
}

// Whether `tail` is nothing but copies of `frame` (the last one perhaps cut short).
bool only_copies(const std::uint8_t* tail, std::size_t n, const std::uint8_t* frame, std::size_t f) {
  for (std::size_t i = 0; i < n; ++i)
    if (tail[i] != frame[i % f]) return false;
  return true;
}
}  // namespace

// Whether the exchange's request was answered (its echo, when the line gave one, skipped). When it was
// and the request before was too, bytes behind the answer that begin another frame are counted as
// unsolicited: with the early end always, since a repeat that comes later than this one would be taken
// as the next request's answer; with the full window only when they are not the answer again, which
// the full window reads and ignores whenever it comes within its 15 ms. (After an unanswered request
// the first frame may be its late answer, which the next exchange takes by design, and the second is
// then this one's own.)
bool AnswerReader::judge_exchange() {
  const std::uint8_t* p = exchange_.bytes;
  std::size_t n = exchange_.size;
  const auto& request = exchange_.request;
  if (request.empty()) return false;  // nothing was asked yet: what the opening found is no answer
  if (n >= request.size() && std::memcmp(p, request.data(), request.size()) == 0) {
    p += request.size();
    n -= request.size();
  }
  if (!ft12::answer_complete(p, n)) return false;
  const std::size_t f = ft12::answer_L(p) + ft12::kOverhead;
  const std::uint8_t* tail = p + f;
  const std::size_t rest = n - f;
  const bool early = last_window_.end_at_frame;
  if (answered_before_ && begins_frame(tail, rest) && (early || !only_copies(tail, rest, p, f))) unsolicited_ += rest;
  return true;
}

bool AnswerReader::filled_with_answer() const { return last_held_answer_ && last_.n == last_cap_; }

// A window that filled its buffer behind a complete answer (the answer and most of its repeat) was cut
// short by its size, not by silence: what follows within the inter-byte time still belongs to it and
// is dropped, up to another buffer's worth, as the early end's rest is.
void AnswerReader::drop_rest_of_full_buffer() {
  std::uint8_t scratch[ft12::kBufSize];
  std::size_t room = sizeof scratch;
  while (room > 0) {
    const Micros now = clock_.now();
    const Micros wait = last_window_.wait_for_next(now - last_.start, now - *last_.last_byte);
    if (wait.count() <= 0) return;
    const std::size_t got = src_.read_some(scratch, room, wait);
    if (!got) continue;
    trace_dropped(scratch, got);
    exchange_.take(scratch, got);
    room -= got;
    last_.last_byte = clock_.now();
  }
}

// Bounded by the buffer's size, so a line that never falls silent can't hold the run here; one byte
// is enough to know the line delivered something no request asked for.
void AnswerReader::drop_unsolicited(Micros until) {
  std::uint8_t scratch[ft12::kBufSize];
  std::size_t room = sizeof scratch;
  while (room > 0) {
    const Micros wait = std::max(Micros(0), until - clock_.now());
    const std::size_t got = src_.read_some(scratch, room, wait);
    if (got) {
      trace_dropped(scratch, got);
      unsolicited_ += got;
      room -= got;
    } else if (wait.count() == 0) {
      return;
    }
  }
}

// The full window would have gone on reading after the frame: bytes that follow within 15 ms of the
// last one (up to the buffer's size) belong to this answer and are dropped, never taken as the start
// of the next one. Meanwhile the line stays idle for the gap; once a trailing byte shows, the rest of
// the full window is waited out, exactly as the full window would have (and, when the buffer would
// have filled, the rest of the burst as for a full buffer).
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
    exchange_.take(scratch, got);
    room -= got;
    trailing = true;
    last_.last_byte = clock_.now();
  }
  if (room == 0) drop_rest_of_full_buffer();
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

namespace {
// A URL names a network port; anything else is the platform's device. A malformed URL never gets here
// (the front-ends refuse it), but is refused here too rather than taken for a device's name.
OpenResult open_device(const std::string& com_name, const LineSettings& settings) {
  const std::string device = platform_port_device(com_name);
  if (!is_port_url(device)) return open_platform_port(com_name, settings);
  std::string why;
  const std::optional<PortUrl> url = parse_port_url(device, why);
  if (!url) return OpenResult{nullptr, com_name + " (" + device + "): " + why};
  return open_network_port(com_name, *url, settings);
}
}  // namespace

void set_port_opener(PortOpener opener) { link_state().opener = std::move(opener); }

OpenResult open_port(const std::string& com_name, const LineSettings& settings) {
  const PortOpener& opener = link_state().opener;
  if (opener) return opener(com_name, settings);
  OpenResult r = open_device(com_name, settings);
  if (!r.port) return r;
  drop_until_silent(*r.port, 1, kMaxStaleWindows);
  if (std::string lost = r.port->connection_lost(); !lost.empty()) {
    r.port.reset();
    r.why = com_name + " (" + platform_port_device(com_name) + "): " + lost + " (another client may hold the port)";
  }
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
