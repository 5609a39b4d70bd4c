// A fresh run: whatever an earlier run in the same process left behind (a block it could not send, a
// full console, its port, its hooks), the next run starts as the first one in a process does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "console/diag.h"
#include "console/state.h"
#include "loader/run.h"
#include "loader/state.h"
#include "serial/comdrv.h"
#include "serial/link.h"
#include "serial/telegram.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::ScriptedBoard;
using Texts = std::vector<std::string>;

Texts texts_sent(const ScriptedBoard& board) {
  Texts out;
  for (const auto& r : board.requests) out.push_back(ScriptedBoard::request_text(r));
  return out;
}

std::string repeated(const std::string& line, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += line;
  return out;
}

// One earlier run, then the same raw command "V" as the next run: it sends "V" and nothing else, and
// its console begins with its own banner.
TEST(FreshRun, NothingOfAnEarlierRunReachesTheNext) {
  struct Case {
    const char* earlier;
    std::vector<std::string> args;
    std::string file;  // written to job.txt
    std::string block_answer;
    int code;  // the earlier run's exit code
  } cases[] = {
      {"a refused block stays pending", {"job.txt"}, "S20600100001AB3D\n", "!", 4},
      {"a block pending at a missing expected answer", {"job.txt"}, "S20600100001AB3D\n!never\n", "*", 7},
      {"a console scrolled full", {"job.txt"}, repeated("LEFTOVER\n", 30), "*", 0},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    dir.write("job.txt", c.file);
    ScriptedBoard earlier;
    earlier.block_answer = c.block_answer;
    earlier.answers["N\n"] = "!";
    ASSERT_EQ(test::run_loader(c.args, earlier).code, c.code) << c.earlier;

    ScriptedBoard next;
    const test::LoaderRun run = test::run_loader({"V"}, next);
    EXPECT_EQ(run.code, 0) << c.earlier;
    EXPECT_EQ(texts_sent(next), Texts{"V\n"}) << c.earlier;
    const std::string shown = console_snapshot().text;
    EXPECT_EQ(shown.rfind("\n VQ-3140 loader", 0), 0u) << c.earlier << ": " << shown;
    EXPECT_EQ(shown.find("LEFTOVER"), std::string::npos) << c.earlier;
  }
}

// What callers plug in, and the port a run leaves open, are gone after fresh_run.
TEST(FreshRun, DropsTheHooksAndClosesThePort) {
  ScriptedBoard board;
  std::string tapped;
  std::vector<std::string> caught;
  fresh_run();
  board.install();
  ASSERT_EQ(zapni_UART(0x3F8, 4, 38400, 0), 0);
  console_set_tap([&tapped](char c) { tapped.push_back(c); });
  set_diagnostic_sink([&caught](const std::string& line) { caught.push_back(line); });
  sendc("I000000\n");
  ASSERT_EQ(std::string(link_state().o), board.identity);

  fresh_run();
  EXPECT_FALSE(link_attached());
  EXPECT_FALSE(link_state().opener);
  EXPECT_EQ(link_state().o[0], 0);
  EXPECT_EQ(link_state().comdrv_baud, 0);
  EXPECT_TRUE(link_state().early_end);
  EXPECT_FALSE(console().state.progress.view);
  const std::size_t before = tapped.size();
  li_putc('x');
  EXPECT_EQ(tapped.size(), before) << "the earlier tap still sees the console";
  EXPECT_EQ(console_snapshot().text, "x");
  EXPECT_EQ(loader_state().depth, 0);
  EXPECT_EQ(loader_state().olds24, 0u);
  ScriptedBoard::uninstall();
}

}  // namespace
}  // namespace vx
