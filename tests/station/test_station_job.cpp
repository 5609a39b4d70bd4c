// What every board runs, and the jobs whose placeholder-built files two boards would share.
#include <gtest/gtest.h>

#include "frontends/station/model/job.h"

namespace vx::station {
namespace {

TEST(StationJob, IdentifyPutsTheIdentityQueryFirst) {
  EXPECT_EQ(job_to_run({"b115200", "fw.s28"}, true), (std::vector<std::string>{"I000000", "b115200", "fw.s28"}));
  EXPECT_EQ(job_to_run({}, true), std::vector<std::string>{"I000000"});
  EXPECT_EQ(job_to_run({"fw.s28"}, false), std::vector<std::string>{"fw.s28"});
  EXPECT_EQ(job_problem({"b115200"}, true), "");
}

TEST(StationJob, CollidingFileNames) {
  const std::vector<PlaceholderValues> boards{
      {"d1/board", "board", 1}, {"d2/other", "other", 2}, {"d3/board", "board", 3}};
  const struct {
    std::vector<std::string> job;
    bool collides;
  } cases[] = {
      {{"b115200", "@binget000000,000010>id-{name}.bin"}, true},
      {{"@binget000000,000010>id-{name}-{index}.bin"}, false},
      {{"@binget000000,000010>{port}.bin"}, false},
      {{"fw.s28", "@verify<fw.s28"}, false},  // the same file read by every board is meant so
  };
  for (const auto& c : cases) {
    std::optional<Collision> found = colliding_argument(c.job, boards);
    EXPECT_EQ(found.has_value(), c.collides) << c.job.back();
    if (found) {
      EXPECT_EQ(found->argument, "@binget000000,000010>id-{name}.bin");
      EXPECT_EQ(found->value, "@binget000000,000010>id-board.bin");
      EXPECT_EQ(found->first, 0u);
      EXPECT_EQ(found->second, 2u);
    }
  }
}

}  // namespace
}  // namespace vx::station
