// The text console: 80 columns, 19 lines, no scroll-back.
//
// li_putc stores the loader's characters in a ring of 3200 bytes (`screen`), handling line feed,
// carriage return (erases the line being written) and the automatic break after column 80 (81 on the
// very first line and after a carriage return). At most 19 lines are kept visible: 18 complete ones
// and the line being written. The visible characters are the `slen` bytes before `pscreen`.
//
// The loader's thread writes; a drawing thread reads through console_snapshot(), which copies the
// visible run under the store's lock, so a drawing never sees a half-done update. A tap can watch
// every character as li_putc receives it (the terminal front-end builds its line view from it). The
// store, the tap and the rest of the console's state live in one object (console/state.h).
#pragma once

#include <functional>
#include <string>

namespace vx {

inline constexpr int kRingSize = 3200;
inline constexpr int kConsoleLines = 19;
inline constexpr int kConsoleColumns = 80;

void li_putc(char a);

struct ConsoleSnapshot {
  std::string text;  // the visible characters in order, line feeds included
  int slen = 0;
  int slines = 1;
  int linechar = 0;
};
ConsoleSnapshot console_snapshot();

// Called with every character li_putc receives, on the loader's thread, after the store is updated.
using ConsoleTap = std::function<void(char)>;
void console_set_tap(ConsoleTap tap);

}  // namespace vx
