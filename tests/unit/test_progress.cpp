// The progress core: positions, and the calls a ProgressView receives while command files run, nested
// ones included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/progress.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using Events = std::vector<std::string>;

struct Recorder : ProgressView {
  Events events;
  void show(const std::string& name) override { events.push_back("show " + name); }
  void set_position(int percent) override { events.push_back(std::to_string(percent)); }
  void hide() override { events.push_back("hide"); }
};

TEST(Position, PercentOfTheCount) {
  struct Case {
    int line, count, position;
  } cases[] = {
      {1, 4, 25},
      {4, 4, 100},
      {1, 3, 33},
      {2, 3, 66},
      {3, 2, 150},
      {1, 0, 100},                // no line feed: the one line is the whole file
      {30000000, 1, 2147483647},  // line * 100 would overflow 32 bits
  };
  for (const auto& c : cases) EXPECT_EQ(pbar_position(c.line, c.count), c.position) << c.line << "/" << c.count;
}

TEST(Calls, WhileCommandFilesRun) {
  struct Case {
    const char* edge;
    std::string file;
    Events events;
  } cases[] = {
      {"four lines", "B\nB\nB\nB\n", {"show job.txt", "25", "50", "75", "100", "hide"}},
      {"three lines truncate", "B\nB\nB\n", {"show job.txt", "33", "66", "100", "hide"}},
      {"last line without line feed", "B\nB\nB", {"show job.txt", "50", "100", "150", "hide"}},
      {"no line feed at all", "B", {"show job.txt", "100", "hide"}},
      {"empty file shows nothing", "", {}},
      {"a failure leaves the bar", "B\nN\nB\n", {"show job.txt", "33", "66"}},
      {"the outer count is back after a nested file",
       "B\n#in.txt\nB\nB\n",
       {"show job.txt", "25", "50", "hide", "show in.txt", "50", "100", "hide", "show job.txt", "75", "100", "hide"}},
      {"a nested file without line feed",
       "#flat.txt\nB\n",
       {"show job.txt", "50", "hide", "show flat.txt", "100", "hide", "show job.txt", "100", "hide"}},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    test::ScriptedBoard board;
    board.answers["N\n"] = "!";
    dir.write("job.txt", c.file);
    dir.write("in.txt", "I\nI\n");
    dir.write("flat.txt", "I");
    Recorder rec;
    test::run_loader({"job.txt"}, board, &rec);
    EXPECT_EQ(rec.events, c.events) << c.edge;
  }
}

TEST(Calls, UnopenableFileIsCountedAsZeroAndShowsNothing) {
  test::TempDir dir;
  test::ScriptedBoard board;
  Recorder rec;
  EXPECT_EQ(test::run_loader({"absent.txt"}, board, &rec).code, 3);
  EXPECT_TRUE(rec.events.empty());
}

}  // namespace
}  // namespace vx
