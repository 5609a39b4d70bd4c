#include "console/console.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "console/state.h"

namespace vx {
namespace {

constexpr char LF = 10;
constexpr char CR = 13;
constexpr int kBreakAfter = 80;  // a further character past this column starts a new line

int next(int p) { return p + 1 == kRingEnd ? kRing : p + 1; }
int prev(int p) { return p == kRing ? kRingEnd - 1 : p - 1; }

void store(ConsoleStore& ring, char c) {
  ring.screen[ring.pscreen] = c;
  ring.pscreen = next(ring.pscreen);
  ++ring.linechar;
  if (++ring.slen > kRingSize) ring.slen = kRingSize;
}

void drop_oldest_lines(ConsoleStore& ring) {
  while (ring.slines >= kConsoleLines + 1 && ring.slen > 0) {
    while (ring.slen > 0 && ring.screen[ring.pscreenu] != LF) {
      ring.pscreenu = next(ring.pscreenu);
      --ring.slen;
    }
    if (ring.slen == 0) break;
    ring.pscreenu = next(ring.pscreenu);
    --ring.slen;
    --ring.slines;
  }
}

// Erases the line being written. The search stops at the oldest visible character, so a carriage
// return before any line feed erases back to the start instead of running through the ring.
void erase_current_line(ConsoleStore& ring) {
  int visible = ring.slen;
  while (visible > 0 && ring.screen[prev(ring.pscreen)] != LF) {
    ring.pscreen = prev(ring.pscreen);
    --visible;
  }
  ring.slen = visible;
  ring.linechar = 0;
}

}  // namespace

void li_putc(char a) {
  ConsoleTap tap;
  {
    std::lock_guard<std::mutex> hold(console().lock);
    ConsoleStore& ring = console().state.store;
    if (a == LF) {
      ++ring.slines;
      ring.linechar = 0;
    }
    if (ring.linechar > kBreakAfter) {
      ++ring.slines;
      ring.linechar = 0;
      store(ring, LF);
    }
    drop_oldest_lines(ring);
    if (a == CR)
      erase_current_line(ring);
    else
      store(ring, a);
    tap = console().state.tap;
  }
  if (tap) tap(a);
}

ConsoleSnapshot console_snapshot() {
  std::lock_guard<std::mutex> hold(console().lock);
  ConsoleStore& ring = console().state.store;
  // Refresh the mirror so the visible run is one unbroken stretch of memory ending at pscreen.
  std::memcpy(ring.screen + kMirror, ring.screen + kRing, kRingSize);
  ConsoleSnapshot s;
  s.text.assign(ring.screen + ring.pscreen - ring.slen, static_cast<std::size_t>(ring.slen));
  s.slen = ring.slen;
  s.slines = ring.slines;
  s.linechar = ring.linechar;
  return s;
}

void console_set_tap(ConsoleTap tap) {
  std::lock_guard<std::mutex> hold(console().lock);
  console().state.tap = std::move(tap);
}

Console& console() {
  static Console the_console;  // the owner: constructed at first use, so no start-up order matters
  return the_console;
}

// Built outside the lock and swapped in under it; the old state (a tap or sink may hold much) goes
// after the lock is released.
void fresh_console() {
  auto state = std::make_unique<ConsoleState>();
  {
    std::lock_guard<std::mutex> hold(console().lock);
    std::swap(console().state, *state);
  }
}

}  // namespace vx
