// What reaches the terminal: the log's lines, the live table's escape sequences and its pace.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "frontends/station/views/display.h"
#include "station_test_support.h"

namespace vx::station {
namespace {

using std::chrono::milliseconds;

// A display printing into memory.
struct Captured {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  TableSize size_given{80, 10};
  std::unique_ptr<Display> display;
  explicit Captured(bool live) : display(make_display(out, live, [this] { return size_given; })) {}
  ~Captured() {
    std::fclose(out);
    std::free(buffer);
  }
  std::size_t taken = 0;
  // What was printed since the last call.
  std::string take() {
    std::fflush(out);
    std::string text(buffer + taken, size - taken);
    taken = size;
    return text;
  }
};

Board board_named(const char* name) {
  Board board;
  board.index = 1;
  board.name = name;
  start_board(board, kT0, "");
  board.phase = Phase::Identity;
  return board;
}

TEST(StationDisplay, LogPrintsChangesAndNotesAsLines) {
  Captured c(false);
  Board board = board_named("b1");
  c.display->note("3 ports: vexal --port {port} fw.s28");
  c.display->changed(board, 1.5);
  c.display->show({&board}, kT0, true);  // nothing to redraw in a log
  c.display->close();
  EXPECT_EQ(c.take(), "3 ports: vexal --port {port} fw.s28\n    1.50 s  b1  identity\n");
}

TEST(StationDisplay, LiveTableIsDrawnThenRedrawnInPlace) {
  Captured c(true);
  Board board = board_named("b1");
  c.display->show({&board}, kT0, false);
  const std::string header = "  #  port  identity  phase         %        rate     time  result\x1b[K\n";
  EXPECT_EQ(c.take(), "\x1b[?25l" + header + "  1  b1" + blanks(14) + "identity" + blanks(23) + "0.0 s\x1b[K\n\x1b[J");
  c.display->show({&board}, kT0 + milliseconds(100), false);
  EXPECT_EQ(c.take(), "");  // within the interval: not drawn again
  c.display->show({&board}, kT0 + milliseconds(250), false);
  EXPECT_EQ(c.take(), "\r\x1b[2A" + header + "  1  b1" + blanks(14) + "identity" + blanks(23) + "0.2 s\x1b[K\n\x1b[J");
}

TEST(StationDisplay, ANoteGoesAboveTheTable) {
  Captured c(true);
  Board board = board_named("b1");
  c.display->show({&board}, kT0, false);
  c.take();
  c.display->note("stopping");
  std::string printed = c.take();
  EXPECT_EQ(printed.substr(0, 20), "\r\x1b[2Astopping\x1b[K\n\x1b[J");
  EXPECT_NE(printed.find("  1  b1", 20), std::string::npos);  // and the table again below it
}

TEST(StationDisplay, AfterCloseTheCursorIsBackAndNotesGoBelowTheTable) {
  Captured c(true);
  Board board = board_named("b1");
  c.display->show({&board}, kT0, false);
  c.take();
  c.display->close();
  c.display->note("1 board: 1 passed, 0 failed, 2.0 s");
  EXPECT_EQ(c.take(), "\x1b[?25h1 board: 1 passed, 0 failed, 2.0 s\x1b[K\n\x1b[J");
}

TEST(StationDisplay, TheTableKeepsALineOfTheTerminalFree) {
  Captured c(true);
  c.size_given = {60, 4};
  std::vector<Board> boards(5, board_named("b"));
  std::vector<const Board*> shown;
  for (const Board& b : boards) shown.push_back(&b);
  c.display->show(shown, kT0, true);
  std::string printed = c.take();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 3);
  EXPECT_NE(printed.find("... 4 more: 4 identity"), std::string::npos);
}

}  // namespace
}  // namespace vx::station
