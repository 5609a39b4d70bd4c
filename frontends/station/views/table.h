// What the station prints about its boards, as text lines: the live table (a terminal redraws it in
// place), the lines of the log (one per board per change of phase, and one at its end) and the
// summary.
//
// Table columns: #, port (the short name), identity, phase (with its file), percent of the phase,
// rate, time since the board's vexal started, result ("ok", or the exit code, error line and reason).
// The port, identity and phase columns are as wide as their longest entry up to a cap, the result takes
// what is left, and every line is cut to the terminal's width (less one column, so no terminal wraps
// it). On a narrow terminal (80 columns and up) the number, port, phase, percent and result always
// stay: the identity goes first, then the port's name is shortened in its middle (its end, with the
// serial number's end, stays), then the rate and the time go, then the phase is cut. When the boards
// don't fit the terminal's height, the last line counts the rows left out by state. Texts from a board
// (identity, error line) are shown with their control characters as '?'.
#pragma once

#include <string>
#include <vector>

#include "frontends/station/model/board.h"

namespace vx::station {

struct TableSize {
  int columns = 80;
  int rows = 24;  // lines the table may use, its header included
};

std::vector<std::string> render_table(const std::vector<const Board*>& boards, SteadyTime now, TableSize size);

// The log line of the board's current phase (or its end), `since` seconds after the station started.
std::string change_line(const Board& board, double since);

// The closing lines: the count of passed, failed (and not started) boards and the total time, then one
// line per board that didn't pass with its exit code and error line.
std::vector<std::string> summary_lines(const std::vector<const Board*>& boards, double total_seconds);

// "9.4 kB/s", "870 B/s"
std::string format_rate(double bytes_per_second);

// The board's result column: "" while it runs, "ok", "exit 5: Error: No response.", "not started";
// a failure's reason follows its error line: "exit 4: Error:s|!refused | (block 3 refused ...)".
std::string result_text(const Board& board);

}  // namespace vx::station
