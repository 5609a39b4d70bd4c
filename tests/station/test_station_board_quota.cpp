// --limit: how many boards may still start, as boards pass and fail.
#include <gtest/gtest.h>

#include "frontends/station/model/board_quota.h"

namespace vx::station {
namespace {

// A board ends (passed or not, the station stopping or not); then what the quota says.
struct End {
  bool passed;
  bool stopping;
  bool reaches;             // board_ended()'s answer
  bool allows_one_running;  // allows_start(1) afterwards
};

struct QuotaCase {
  const char* name;
  unsigned limit;
  std::vector<End> ends;
};

const QuotaCase kCases[] = {
    {"no limit", 0, {{true, false, false, true}, {true, false, false, true}}},
    {"a failure makes room for the next",
     2,
     {{false, false, false, true},
      {true, false, false, false},
      {false, false, false, false},
      {true, false, true, false}}},
    {"the limit reached while stopping for another reason", 1, {{true, true, false, false}}},
    {"reached, then the station stops: the next end reaches nothing",
     1,
     {{true, false, true, false}, {true, true, false, false}}},
};

TEST(StationBoardQuota, Ends) {
  for (const QuotaCase& c : kCases) {
    BoardQuota quota(c.limit);
    for (std::size_t i = 0; i < c.ends.size(); ++i) {
      const End& end = c.ends[i];
      EXPECT_EQ(quota.board_ended(end.passed, end.stopping), end.reaches) << c.name << ", end " << i;
      EXPECT_EQ(quota.allows_start(1), end.allows_one_running) << c.name << ", end " << i;
    }
  }
}

TEST(StationBoardQuota, RunningBoardsCountAgainstTheLimit) {
  BoardQuota quota(3);
  EXPECT_TRUE(quota.allows_start(2));
  EXPECT_FALSE(quota.allows_start(3));
  EXPECT_FALSE(quota.reached());
  EXPECT_EQ(quota.passed(), 0u);
}

}  // namespace
}  // namespace vx::station
