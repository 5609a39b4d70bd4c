// The window's tiles, header and grid as a person reads them off the window.
#include <gtest/gtest.h>

#include "frontends/station/views/tiles.h"
#include "station_test_support.h"

namespace vx::station {
namespace {

Board board_in(Phase phase) {
  Board board;
  board.name = "b01";
  board.phase = phase;
  return board;
}

TEST(StationTiles, EachStateShowsItsTexts) {
  Board loading = board_in(Phase::Loading);
  loading.file = "fw/firmware.s28";
  loading.done = 16384;
  loading.total = 65536;
  Board identity = board_in(Phase::Identity);
  Board failed = board_in(Phase::Failed);
  failed.exit_code = 5;
  failed.error = "Error: No response.";
  Board crashed = board_in(Phase::Failed);
  crashed.exit_code = kSignalCodeBase + 9;
  Board control = board_in(Phase::Done);
  control.name = "b\x1b[2J";
  struct Row {
    const char* what;
    Board board;
    TileState state;
    std::string text;  // tile_text: the lines top to bottom
  } rows[] = {
      {"queued", board_in(Phase::Queued), TileState::Waiting, "b01\nwaiting"},
      {"never started", board_in(Phase::NotStarted), TileState::Waiting, "b01\nnot started"},
      {"loading with its file and percent", loading, TileState::Running, "b01\nloading firmware.s28\n25 %"},
      {"a phase of unknown size has no bar", identity, TileState::Running, "b01\nidentity"},
      {"passed", board_in(Phase::Done), TileState::Passed, "b01\nPASS"},
      {"failed with the code and error line", failed, TileState::Failed, "b01\nFAIL\nexit 5: Error: No response."},
      {"a control character in the name", control, TileState::Passed, "b?[2J\nPASS"},
  };
  for (const Row& row : rows) {
    TileView view = tile_view(row.board);
    EXPECT_EQ(view.state, row.state) << row.what;
    EXPECT_EQ(tile_text(view), row.text) << row.what;
  }
  EXPECT_EQ(tile_view(crashed).reason.rfind("exit 137", 0), 0u) << tile_view(crashed).reason;
}

TEST(StationTiles, ViewChangesOnlyWithWhatIsShown) {
  Board board = board_in(Phase::Loading);
  board.total = 1000;
  board.done = 100;
  TileView before = tile_view(board);
  board.done = 105;  // still 10 %
  EXPECT_EQ(tile_view(board), before);
  board.done = 110;
  EXPECT_NE(tile_view(board), before);
}

TEST(StationTiles, HeaderCountsAndClock) {
  Board done = board_in(Phase::Done), failed = board_in(Phase::Failed), loading = board_in(Phase::Loading);
  Board queued = board_in(Phase::Queued);
  TileCounts counts = count_tiles({&done, &done, &failed, &loading, &queued});
  EXPECT_EQ(counts, (TileCounts{2, 1, 1, 1}));
  struct Row {
    TileCounts counts;
    double seconds;
    std::string text;
  } rows[] = {
      {{2, 1, 1, 1}, 65.9, "fw.s28   2 passed   1 failed   1 running   1 waiting   1:05"},
      {{16, 0, 0, 0}, 3725, "fw.s28   16 passed   0 failed   0 running   1:02:05"},
  };
  for (const Row& row : rows) EXPECT_EQ(header_text("fw.s28", row.counts, row.seconds), row.text);
}

TEST(StationTiles, GridGivesTheLargestTiles) {
  struct Row {
    std::size_t tiles;
    int width, height;
    Grid grid;
  } rows[] = {
      {0, 800, 600, {1, 1}},    {1, 800, 600, {1, 1}},     {2, 800, 600, {1, 2}},  {16, 1280, 750, {4, 4}},
      {32, 1920, 1020, {6, 6}}, {32, 1000, 2000, {3, 11}}, {3, 1920, 300, {3, 1}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(grid_for(row.tiles, row.width, row.height), row.grid)
        << row.tiles << " in " << row.width << "x" << row.height;
}

}  // namespace
}  // namespace vx::station
