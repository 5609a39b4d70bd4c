// The driver against a scripted board: options, usage, identity, raw commands, exit codes.
#include <gtest/gtest.h>

#include "protocol/frame.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::Bytes;
using test::LoaderRun;
using test::ScriptedBoard;
using Lines = std::vector<std::string>;

std::string settings(const char* port = "3F8", const char* irq = "0004", const char* baud = "38400",
                     const char* mode = "0000") {
  return std::string("Serial UART port:") + port + " irq:" + irq + " baud:" + baud + " mode:" + mode;
}

Lines with_settings(Lines rest, const std::string& line = settings()) {
  rest.insert(rest.begin(), {line, "UART init O.K."});
  return rest;
}

std::vector<std::string> texts_sent(const ScriptedBoard& board) {
  std::vector<std::string> out;
  for (const auto& r : board.requests) out.push_back(ScriptedBoard::request_text(r));
  return out;
}

TEST(Driver, NoArgumentsAsksForTheIdentity) {
  ScriptedBoard board;
  LoaderRun run = test::run_loader({}, board);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(texts_sent(board), (Lines{"I000000\n"}));
  EXPECT_EQ(run.log.front(), " VQ-3140 loader ver. 0.95 (ZARVEN v1.28) (c) 2026 the vexal developers");
  EXPECT_EQ(test::log_from_settings(run), with_settings({"Target ID:", board.identity, "Exit code     0"}));
}

TEST(Driver, EmptyIdentityAnswerMeansNoTarget) {
  ScriptedBoard board;
  board.answers["I000000\n"] = "";
  LoaderRun run = test::run_loader({}, board);
  EXPECT_EQ(run.code, 4);
  EXPECT_EQ(test::log_from_settings(run), with_settings({"Target ID:", "Target didn't respond.", "Exit code     4"}));
}

TEST(Driver, UsageWinsAndOpensNoPort) {
  for (const char* ask : {"?", "-?", "/?"}) {
    ScriptedBoard board;
    LoaderRun run = test::run_loader({"b9600", "old", ask, "X1"}, board);
    EXPECT_EQ(run.code, 0) << ask;
    EXPECT_EQ(board.opens, 0) << ask;
    EXPECT_EQ(test::log_from_settings(run),
              (Lines{" Use: vexal.exe [p3f8] [i4] [b38400] [old] [file(-s)] [command(-s)]",
                     " Option 'old' required for boards with BIOS version prior to 1.28",
                     " Note: All options and commands are case sensitive !", "Exit code     0"}))
        << ask;
  }
}

// Options taken (the settings line in effect) and what is left over and sent as raw commands.
TEST(Driver, OptionScanOrderAndBlanking) {
  const struct {
    Lines args;
    std::string settings_line;
    Lines sent;
    const char* com;
    unsigned baud;
  } cases[] = {
      {{"b9600", "b19200"}, settings("3F8", "0004", "19200"), {"b9600\n"}, "COM1", 19200},
      {{"m7"}, settings(), {"m7\n"}, "COM1", 38400},
      {{"m2", "m7"}, settings(), {"m2\n", "m7\n"}, "COM1", 38400},
      {{"b1152000"}, settings("3F8", "0004", "15200"), {}, "COM1", 115200},
      {{"old", "old"}, settings(), {"old\n"}, "COM1", 38400},
      {{"ram", "X1"}, settings(), {"X1\n"}, "COM1", 38400},
      {{"p2f8", "b9600"}, settings("2F8", "0004", " 9600"), {}, "COM2", 9600},
      {{"iA"}, settings("3F8", "0011"), {}, "COM1", 38400},
      {{"m4"}, settings("3F8", "0004", "38400", "0001"), {}, "COM1", 38400},
      {{"bx.y"}, settings(), {}, "COM1", 38400},  // a '.' makes it a command file, not an option
  };
  for (const auto& c : cases) {
    ScriptedBoard board;
    LoaderRun run = test::run_loader(c.args, board);
    const std::string where = c.args.front();
    EXPECT_EQ(texts_sent(board), c.sent) << where;
    EXPECT_EQ(test::log_from_settings(run).front(), c.settings_line) << where;
    EXPECT_EQ(board.opened_as, c.com) << where;
    EXPECT_EQ(board.settings_seen.baud, c.baud) << where;
  }
}

TEST(Driver, ParityFollowsTheLowTwoModeBits) {
  const struct {
    const char* arg;
    Parity parity;
  } cases[] = {
      {"m0", Parity::None}, {"m1", Parity::Odd}, {"m2", Parity::Even}, {"m3", Parity::Odd}, {"m4", Parity::None}};
  for (const auto& c : cases) {
    ScriptedBoard board;
    test::run_loader({c.arg}, board);
    EXPECT_EQ(board.settings_seen.parity, c.parity) << c.arg;
  }
}

TEST(Driver, RefusedSettingsEndWithCode2BeforeAnythingIsSent) {
  const struct {
    Lines args;
    bool opens;
    std::string first_line;
  } cases[] = {
      {{"b14400"}, false, settings("3F8", "0004", "14400") + "Wrong settings, can't initializ"},
      {{"p3e8"}, false, settings("3E8") + "Wrong settings, can't initializ"},
  };
  for (const auto& c : cases) {
    ScriptedBoard board;
    LoaderRun run = test::run_loader(c.args, board);
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(board.opens, 0);
    EXPECT_TRUE(board.requests.empty());
  }
  ScriptedBoard busy;
  busy.open_fails = true;
  LoaderRun run = test::run_loader({"X1"}, busy);
  EXPECT_EQ(run.code, 2);
  ASSERT_EQ(run.diagnostics.size(), 1u);  // the reason goes beside the console, not into it
}

const std::string kTwelve(12, ' ');

TEST(Driver, RawCommandsAndTheirAnswers) {
  const struct {
    const char* name;
    std::optional<std::string> answer;
    int code;
    Lines tail;
  } cases[] = {
      {"positive", "OK", 0, {"Send scmd: X1", "Answer: OK", "Loading completed with no errors.", "Exit code     0"}},
      {"empty answer passes",
       "",
       0,
       {"Send scmd: X1", "Answer:", "Loading completed with no errors.", "Exit code     0"}},
      // "Answer: " and its 245-wide field fill 81 + 80 + 80 columns and 12 more before the error.
      {"negative with ?",
       "?ERR",
       7,
       {"Send scmd: X1", "Answer: ?ERR", kTwelve + "Error: Negative response.", "Exit code     7"}},
      {"negative with !",
       "a!b",
       7,
       {"Send scmd: X1", "Answer: a!b", kTwelve + "Error: Negative response.", "Exit code     7"}},
  };
  for (const auto& c : cases) {
    ScriptedBoard board;
    board.answers["X1\n"] = c.answer;
    LoaderRun run = test::run_loader({"X1", "X2"}, board);
    EXPECT_EQ(run.code, c.code) << c.name;
    Lines log = test::log_from_settings(run);
    log.erase(log.begin(), log.begin() + 2);
    if (c.code == 0) log.erase(log.begin() + 2, log.begin() + 4);  // X2's lines
    EXPECT_EQ(log, c.tail) << c.name;
  }
}

TEST(Driver, MemoryCommandWithADotIsACommandNotAFile) {
  ScriptedBoard board;
  LoaderRun run = test::run_loader({"@nosuch.bin"}, board);
  EXPECT_EQ(run.code, 9);
  EXPECT_TRUE(board.requests.empty());
  EXPECT_NE(std::find(run.log.begin(), run.log.end(), "Error: Unknown command"), run.log.end());
}

TEST(Driver, SilentBoardEndsWithNoResponse) {
  ScriptedBoard board;
  board.answers["X1\n"] = std::nullopt;
  LoaderRun run = test::run_loader({"X1"}, board);
  EXPECT_EQ(run.code, 5);
  EXPECT_EQ(board.requests.size(), 9u);
}

}  // namespace
}  // namespace vx
