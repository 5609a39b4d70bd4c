// The live table, the log lines and the summary, as a person reads them.
#include <gtest/gtest.h>

#include "frontends/station/views/table.h"
#include "station_test_support.h"

namespace vx::station {
namespace {

using std::chrono::milliseconds;

struct ThreeBoards {
  Board loading, failed, queued;
  ThreeBoards() {
    loading.index = 1;
    loading.name = "b01";
    loading.port.device = "/dev/ttyUSB0";
    loading.identity = "VQ-3140 ZARVEN v1.28";
    start_board(loading, kT0 - milliseconds(1000), "");
    loading.phase = Phase::Loading;
    loading.file = "fw/firmware.s28";
    loading.phase_started = kT0;
    loading.done = 32768;
    loading.total = 65536;

    failed.index = 2;
    failed.name = "board-long-name";
    failed.port.device = "/dev/ttyUSB1";
    start_board(failed, kT0, "");
    failed.error = "Error: No response.";
    failed.phase = Phase::Failed;
    failed.exit_code = 5;
    failed.seconds = 2.5;

    queued.index = 3;
    queued.name = "b03";
    queued.port.device = "/dev/ttyUSB2";
  }
  std::vector<const Board*> all() const { return {&loading, &failed, &queued}; }
};

const SteadyTime kNow = kT0 + milliseconds(4000);

TEST(StationTable, ColumnsAsWideAsTheirLongestEntry) {
  ThreeBoards b;
  std::vector<std::string> lines = render_table(b.all(), kNow, {140, 24});
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "  #  port" + blanks(11) + "  identity" + blanks(12) + "  phase" + blanks(15) +
                          "      %        rate     time  result");
  EXPECT_EQ(lines[1],
            "  1  b01" + blanks(12) + "  VQ-3140 ZARVEN v1.28  loading firmware.s28   50 %    8.2 kB/s    5.0 s");
  EXPECT_EQ(lines[2], "  2  board-long-name  " + blanks(20) + "  failed" + blanks(14) + "  " + blanks(5) + "  " +
                          blanks(10) + "    2.5 s  exit 5: Error: No response.");
  EXPECT_EQ(lines[3], "  3  b03" + blanks(12) + "  " + blanks(20) + "  queued");
}

TEST(StationTable, ADoneBoardShowsItsAverageRateAndOk) {
  Board done;
  done.index = 12;
  done.name = "b12";
  start_board(done, kT0, "");
  done.phase = Phase::Done;
  done.bytes = 65536;
  done.seconds = 8.0;
  std::vector<std::string> lines = render_table({&done}, kNow, {100, 24});
  EXPECT_EQ(lines[1], " 12  b12   " + blanks(8) + "  done " + "  " + blanks(5) + "    8.2 kB/s    8.0 s  ok");
}

TEST(StationTable, LinesAreCutToTheTerminalLessOneColumn) {
  ThreeBoards b;
  for (int columns : {40, 1, 0}) {
    for (const std::string& line : render_table(b.all(), kNow, {columns, 24})) {
      EXPECT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 1, 0))) << line;
    }
  }
  EXPECT_EQ(render_table(b.all(), kNow, {40, 24})[1], "  1  b01              loading fir   50");
}

// From 80 columns on, every row keeps its number, the end of its port's name (the serial's end), its
// phase, percent and the start of its result; the identity is the first to go.
TEST(StationTable, NarrowTerminalsKeepWhatMatters) {
  Board loading, failed;
  loading.index = 1;
  loading.name = "usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0";
  loading.identity = "VQ-3140 ZARVEN v1.28 serial 000123";
  start_board(loading, kT0, "");
  loading.phase = Phase::Loading;
  loading.file = "firmware-2026-12.s28";
  loading.done = 1;
  loading.total = 4;
  failed = loading;
  failed.index = 32;
  failed.name = "usb-FTDI_FT232R_USB_UART_E5F6A7B8-if00-port0";
  failed.phase = Phase::Failed;
  failed.exit_code = 4;
  failed.error = "Error:s|!refused |";
  failed.reason = "block 3 refused after 8 attempts";
  const struct {
    int columns;
    bool identity, time;
  } cases[] = {{80, false, false}, {100, false, true}, {160, true, true}};
  for (const auto& c : cases) {
    std::vector<std::string> lines = render_table({&loading, &failed}, kNow, {c.columns, 24});
    for (const std::string& line : lines) EXPECT_LT(line.size(), static_cast<std::size_t>(c.columns)) << line;
    EXPECT_EQ(lines[1].substr(0, 5), "  1  ") << c.columns;
    EXPECT_NE(lines[1].find("C3D4-if00-port0  "), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("  loading firmware"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("25 %"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].substr(0, 5), " 32  ") << c.columns;
    EXPECT_NE(lines[2].find("A7B8-if00-port0"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("exit 4: Error:s|!refused"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[1].find("VQ-3140") != std::string::npos, c.identity) << lines[1];
    EXPECT_EQ(lines[1].find("4.0 s") != std::string::npos, c.time) << lines[1];
  }
  EXPECT_NE(render_table({&failed}, kNow, {200, 24})[1].find("(block 3 refused after 8 attempts)"), std::string::npos)
      << render_table({&failed}, kNow, {200, 24})[1];
}

TEST(StationTable, RowsThatDontFitAreCountedByState) {
  ThreeBoards b;
  Board more = b.queued;
  more.index = 4;
  std::vector<std::string> lines = render_table({&b.loading, &b.failed, &b.queued, &more}, kNow, {120, 3});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(0, 8), "  1  b01");
  EXPECT_EQ(lines[2], "... 3 more: 1 failed, 2 queued");
  EXPECT_EQ(render_table(b.all(), kNow, {120, 4}).size(), 4u);  // exactly fits: no count line
}

TEST(StationTable, ABoardsTextsCantMoveTheCursor) {
  Board board;
  board.index = 1;
  board.name = "b\x1b[1";
  board.identity = "VQ\x1b[2J\r\n";
  start_board(board, kT0, "");
  board.phase = Phase::Failed;
  board.error = "Error: \x07";
  for (const std::string& line : render_table({&board}, kNow, {120, 24}))
    EXPECT_EQ(line.find_first_of("\x1b\r\n\x07"), std::string::npos) << line;
  EXPECT_NE(render_table({&board}, kNow, {120, 24})[1].find("VQ?[2J??"), std::string::npos);
}

TEST(StationTable, LogLines) {
  ThreeBoards b;
  EXPECT_EQ(change_line(b.loading, 12.5), "   12.50 s  b01  loading firmware.s28");
  EXPECT_EQ(change_line(b.failed, 3), "    3.00 s  board-long-name  failed  exit code 5: Error: No response.");
  Board done = b.loading;
  done.phase = Phase::Done;
  done.bytes = 65536;
  done.seconds = 7.25;
  EXPECT_EQ(change_line(done, 8.25), "    8.25 s  b01  done  VQ-3140 ZARVEN v1.28  65536 bytes in 7.25 s");
  done.identity.clear();
  EXPECT_EQ(change_line(done, 8.25), "    8.25 s  b01  done  65536 bytes in 7.25 s");
  skip_board(b.queued);
  EXPECT_EQ(change_line(b.queued, 100), "  100.00 s  b03  not started");
}

TEST(StationTable, SummaryCountsAndNamesEveryBoardThatDidntPass) {
  ThreeBoards b;
  b.loading.phase = Phase::Done;
  skip_board(b.queued);
  EXPECT_EQ(summary_lines(b.all(), 12.34),
            (std::vector<std::string>{"3 boards: 1 passed, 1 failed, 1 not started, 12.3 s",
                                      "  board-long-name (/dev/ttyUSB1): exit code 5: Error: No response.",
                                      "  b03 (/dev/ttyUSB2): not started"}));
  EXPECT_EQ(summary_lines({&b.loading}, 7), std::vector<std::string>{"1 board: 1 passed, 0 failed, 7.0 s"});
}

TEST(StationTable, Rates) {
  const struct {
    double rate;
    const char* text;
  } cases[] = {{0.4, "0 B/s"},         {999, "999 B/s"},  {1000, "1.0 kB/s"},   {9381, "9.4 kB/s"},
               {123456, "123.5 kB/s"}, {1e6, "1.0 MB/s"}, {37.5e6, "37.5 MB/s"}};
  for (const auto& c : cases) EXPECT_EQ(format_rate(c.rate), c.text) << c.rate;
}

TEST(StationTable, Results) {
  ThreeBoards b;
  EXPECT_EQ(result_text(b.loading), "");
  EXPECT_EQ(result_text(b.failed), "exit 5: Error: No response.");
  b.failed.reason = "no answer to the identity query after 9 attempts";
  EXPECT_EQ(result_text(b.failed), "exit 5: Error: No response. (no answer to the identity query after 9 attempts)");
  b.loading.phase = Phase::Done;
  EXPECT_EQ(result_text(b.loading), "ok");
}

}  // namespace
}  // namespace vx::station
