// The console store: line breaks at 80/81 columns, carriage returns, scrolling to 19 lines, the ring.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "console/console.h"
#include "console/lineview.h"
#include "loader/run.h"

namespace vx {
namespace {

// The visible lines of the store, as the window draws them.
std::vector<std::string> shown() {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : console_snapshot().text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  lines.push_back(cur);
  return lines;
}

void put(const std::string& s) {
  for (char c : s) li_putc(c);
}

std::string xs(int n, char c = 'x') { return std::string(static_cast<std::size_t>(n), c); }

class Console : public ::testing::Test {
 protected:
  void SetUp() override { fresh_run(); }
};

TEST_F(Console, BreaksAfter80ColumnsFollowingALineFeedAnd81AtTheStart) {
  put(xs(100));
  EXPECT_EQ(shown(), (std::vector<std::string>{xs(81), xs(19)}));
  fresh_run();
  put("\n" + xs(100));
  EXPECT_EQ(shown(), (std::vector<std::string>{"", xs(80), xs(20)}));
}

TEST_F(Console, CarriageReturnCases) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"shorter text leaves no tail", "\nfull\r" + xs(20) + "\r" + xs(10, 'y'), {"", xs(10, 'y')}},
      {"line feed on a full line: no empty line", "\n" + xs(80) + "\nF", {"", xs(80), "F"}},
      {"return on a full line keeps it", "\n" + xs(80) + "\rE", {"", xs(80), "E"}},
      {"81st character is erased", "\n" + xs(81) + "\rE", {"", xs(80), "E"}},
      {"send field of 245 fills 81, 80, 80, 10",
       "\n\rSend: " + xs(245),
       {"", "Send: " + xs(75), xs(80), xs(80), xs(10)}},
  };
  for (const auto& c : cases) {
    fresh_run();
    put(c.input);
    EXPECT_EQ(shown(), c.lines) << c.name;
  }
}

TEST_F(Console, ReturnAfterLongSendFieldErasesOnlyTheLastPiece) {
  put("\n\rSend: " + xs(245) + "\r");
  EXPECT_EQ(shown(), (std::vector<std::string>{"", "Send: " + xs(75), xs(80), xs(80), ""}));
}

TEST_F(Console, ReturnBeforeAnyLineFeedErasesToTheStart) {
  put("abc\rde");
  EXPECT_EQ(shown(), (std::vector<std::string>{"de"}));
}

TEST_F(Console, KeepsTheLast18LinesAndTheOneBeingWritten) {
  put("\n banner\n");
  for (int i = 1; i <= 25; ++i) put("line " + std::to_string(i) + "\n");
  auto lines = shown();
  ASSERT_EQ(lines.size(), 19u);
  EXPECT_EQ(lines.front(), "line 8");
  EXPECT_EQ(lines[17], "line 25");
  EXPECT_EQ(lines.back(), "");
}

TEST_F(Console, RingWrapsWithoutGapOrRepeat) {
  // 50 lines of 79 characters and a line feed: 4000 characters, more than the ring holds.
  for (int i = 0; i < 50; ++i) put(xs(70, static_cast<char>('A' + i % 26)) + "|" + std::to_string(1000 + i) + "xxxx\n");
  auto lines = shown();
  ASSERT_EQ(lines.size(), 19u);
  for (int k = 0; k < 18; ++k) {
    const int i = 32 + k;
    EXPECT_EQ(lines[static_cast<std::size_t>(k)],
              xs(70, static_cast<char>('A' + i % 26)) + "|" + std::to_string(1000 + i) + "xxxx");
  }
}

TEST_F(Console, InvariantsHoldForAnyStream) {
  unsigned seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const unsigned r = (seed >> 16) % 100;
    li_putc(r < 8 ? '\n' : r < 12 ? '\r' : static_cast<char>(r));
    auto s = console_snapshot();
    ASSERT_LE(s.slen, kRingSize);
    ASSERT_LE(s.slines, kConsoleLines);
    ASSERT_EQ(static_cast<int>(std::count(s.text.begin(), s.text.end(), '\n')) + 1, s.slines);
  }
}

TEST_F(Console, SnapshotsFromAnotherThreadAreConsistent) {
  std::thread writer([] {
    for (int i = 0; i < 20000; ++i) put("row " + std::to_string(i) + "\n");
  });
  for (int i = 0; i < 2000; ++i) {
    auto s = console_snapshot();
    ASSERT_EQ(static_cast<int>(std::count(s.text.begin(), s.text.end(), '\n')) + 1, s.slines);
  }
  writer.join();
}

TEST(LineView, LogDropsBlankLinesAndWrapsLikeTheStore) {
  LineView v;
  v.write("\n banner \n\rSend: " + xs(100) + "\rAnswer: OK   ");
  EXPECT_EQ(v.log_lines(), (std::vector<std::string>{" banner", "Send: " + xs(75), "Answer: OK"}));
}

}  // namespace
}  // namespace vx
