#include "console/console.h"

#include <cstring>
#include <mutex>

namespace vx {
namespace {

constexpr char LF = 10;
constexpr char CR = 13;
constexpr int kMirror = 0;        // positions 0..3199: the copy the drawing reads across the ring's end
constexpr int kRing = kRingSize;  // positions 3200..6399: the ring
constexpr int kRingEnd = 2 * kRingSize;
constexpr int kScreenSize = kRingEnd + 10;
constexpr int kBreakAfter = 80;   // a further character past this column starts a new line

struct ConsoleStore {
  char screen[kScreenSize] = {};
  int pscreen = kRing;   // write position
  int pscreenu = kRing;  // first character of the oldest line shown
  int slen = 0;
  int slines = 1;
  int linechar = 0;
};

std::mutex g_lock;  // the store is written by the loader's thread and read by the drawing thread
ConsoleStore g;
ConsoleTap g_tap;

int next(int p) { return p + 1 == kRingEnd ? kRing : p + 1; }
int prev(int p) { return p == kRing ? kRingEnd - 1 : p - 1; }

void store(char c) {
  g.screen[g.pscreen] = c;
  g.pscreen = next(g.pscreen);
  ++g.linechar;
  if (++g.slen > kRingSize) g.slen = kRingSize;
}

void drop_oldest_lines() {
  while (g.slines >= kConsoleLines + 1 && g.slen > 0) {
    while (g.slen > 0 && g.screen[g.pscreenu] != LF) {
      g.pscreenu = next(g.pscreenu);
      --g.slen;
    }
    if (g.slen == 0) break;
    g.pscreenu = next(g.pscreenu);
    --g.slen;
    --g.slines;
  }
}

// Erases the line being written. The search stops at the oldest visible character, so a carriage
// return before any line feed erases back to the start instead of running through the ring.
void erase_current_line() {
  int visible = g.slen;
  while (visible > 0 && g.screen[prev(g.pscreen)] != LF) {
    g.pscreen = prev(g.pscreen);
    --visible;
  }
  g.slen = visible;
  g.linechar = 0;
}

}  // namespace

void li_putc(char a) {
  ConsoleTap tap;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (a == LF) {
      ++g.slines;
      g.linechar = 0;
    }
    if (g.linechar > kBreakAfter) {
      ++g.slines;
      g.linechar = 0;
      store(LF);
    }
    drop_oldest_lines();
    if (a == CR)
      erase_current_line();
    else
      store(a);
    tap = g_tap;
  }
  if (tap) tap(a);
}

ConsoleSnapshot console_snapshot() {
  std::lock_guard<std::mutex> hold(g_lock);
  // Refresh the mirror so the visible run is one unbroken stretch of memory ending at pscreen.
  std::memcpy(g.screen + kMirror, g.screen + kRing, kRingSize);
  ConsoleSnapshot s;
  s.text.assign(g.screen + g.pscreen - g.slen, static_cast<std::size_t>(g.slen));
  s.slen = g.slen;
  s.slines = g.slines;
  s.linechar = g.linechar;
  return s;
}

void console_reset() {
  std::lock_guard<std::mutex> hold(g_lock);
  g = ConsoleStore{};
}

void console_set_tap(ConsoleTap tap) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_tap = std::move(tap);
}

}  // namespace vx
