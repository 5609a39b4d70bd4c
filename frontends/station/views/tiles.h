// What the station's window shows, as data: one tile per board, the header line, and the grid the
// tiles are laid out in. The window (window.h) only draws these; they are made from the same boards
// the table is made from, so the two can't tell different stories.
//
// A tile is waiting (grey: queued, or never started because the station was stopped), running (its
// phase, the phase's file and a bar of the phase's percent), passed (a large PASS) or failed (a large
// FAIL with the exit code and the error line, as the table's result column has them).
#pragma once

#include <string>
#include <vector>

#include "frontends/station/model/board.h"

namespace vx::station {

enum class TileState { Waiting, Running, Passed, Failed };

struct TileView {
  TileState state = TileState::Waiting;
  std::string name;    // the board's short name
  std::string phase;   // "waiting", "loading fw.s19", "not started"; "" once it ended
  int percent = -1;    // of the phase while running; -1: no bar (size unknown, or not running)
  std::string result;  // "PASS", "FAIL"; "" until it ends
  std::string reason;  // "exit 5: Error: No response."; "" unless it failed
  bool operator==(const TileView&) const = default;
};

TileView tile_view(const Board& board);

// The tile's texts as lines, top to bottom (what the tile's label holds, for tests and tools).
std::string tile_text(const TileView& view);

struct TileCounts {
  int passed = 0, failed = 0, running = 0, waiting = 0;
  bool operator==(const TileCounts&) const = default;
};

TileCounts count_tiles(const std::vector<const Board*>& boards);

// "fw.s19 -v   12 passed   1 failed   3 running   1:05"; the time as m:ss (h:mm:ss from an hour).
std::string header_text(const std::string& job, const TileCounts& counts, double seconds);

struct Grid {
  int columns = 1, rows = 1;
  bool operator==(const Grid&) const = default;
};

// The grid for `tiles` tiles in an area of width x height pixels: the one whose tiles are largest,
// measured as a tile's height or half its width, whichever is less (a tile reads best about twice as
// wide as it is high). At least one column and one row.
Grid grid_for(std::size_t tiles, int width, int height);

}  // namespace vx::station
