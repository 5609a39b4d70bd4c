// Where the station shows its boards: a live table on a terminal, or a log anywhere else.
//
// Live: the table is drawn below what the terminal already shows and redrawn in place (cursor up over
// the last drawing, each line rewritten and cleared to its end, the rest of the screen cleared), at most
// every kLiveInterval; a note (Ctrl-C seen, a port that can't be listed) is printed above the table,
// which is then drawn again below it. The cursor is hidden while the table is live. The table never
// takes more lines than the terminal has less one, so drawing it can't scroll the terminal under the
// cursor's feet.
//
// Log: one line per board per change of phase, one at its end, and the notes; nothing is redrawn.
//
// Every display writes its error lines to standard error: the station prints through its display alone.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontends/station/model/board.h"
#include "frontends/station/views/table.h"

namespace vx::station {

class Display {
 public:
  virtual ~Display() = default;
  // A line of its own (printed once, above a live table).
  virtual void note(const std::string& line) = 0;
  // The board entered a phase or ended, `since` seconds after the station started.
  virtual void changed(const Board& board, double since) = 0;
  // The boards as they are now: a live table is redrawn when its interval has passed (or `force`).
  virtual void show(const std::vector<const Board*>& boards, SteadyTime now, bool force) = 0;
  // The station ends: the last drawing stays and the cursor is given back.
  virtual void close() = 0;

  // A display with events of its own (a window): the descriptor the station's loop waits on besides
  // its own (-1: none), what it does after every wait (take the events, draw what is due), and the
  // longest the loop may sleep while the display is up (none: only as the boards need).
  virtual int wake_fd() const { return -1; }
  virtual void serve() {}
  virtual std::optional<std::chrono::milliseconds> wake_interval() const { return std::nullopt; }
  // After the station's end: a window stays until the person closes it; a terminal has nothing to wait for.
  virtual void linger() {}

  // A line for standard error, whatever shows the boards: a refusal before any board ran, or why no
  // new board starts, which the person must see even where standard output goes to a file.
  virtual void error_line(const std::string& line);
};

constexpr std::chrono::milliseconds kLiveInterval{250};

// The terminal's size (columns, lines) as the table may use it.
using SizeSource = std::function<TableSize()>;

// A display on `out`: live when `live`, a log otherwise. `size` is asked before every drawing.
std::unique_ptr<Display> make_display(std::FILE* out, bool live, SizeSource size);

// The size of the terminal on `fd` (80 x 24 when it can't be read).
TableSize terminal_size(int fd);

}  // namespace vx::station
