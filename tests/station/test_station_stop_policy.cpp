// The stop policy: what each Ctrl-C, SIGTERM or SIGHUP asks of the station, and when the jobs that
// ignored it all are killed, on made-up times.
#include <gtest/gtest.h>

#include "frontends/station/model/stop_policy.h"
#include "station_test_support.h"

namespace vx::station {
namespace {

using std::chrono::milliseconds;
constexpr StopSignal kInt = StopSignal::Interrupt;
constexpr StopSignal kTerm = StopSignal::Terminate;  // SIGTERM and SIGHUP alike

struct SignalCase {
  const char* name;
  std::vector<StopSignal> signals;  // one after another, each at kT0
  bool jobs_running;
  int level;  // after the last
  // What the last signal asked.
  bool raised, interrupt_jobs, end_jobs;
};

const SignalCase kSignalCases[] = {
    {"one Ctrl-C starts no more jobs", {kInt}, true, 1, true, false, false},
    {"a second Ctrl-C interrupts the jobs", {kInt, kInt}, true, 2, true, true, false},
    {"a third ends them", {kInt, kInt, kInt}, true, 3, true, false, true},
    {"a fourth changes nothing", {kInt, kInt, kInt, kInt}, true, 3, false, false, false},
    {"SIGTERM at once interrupts the jobs", {kTerm}, true, 2, true, true, false},
    {"SIGTERM after a Ctrl-C interrupts them", {kInt, kTerm}, true, 2, true, true, false},
    {"SIGTERM after an interrupt ends them", {kTerm, kTerm}, true, 3, true, false, true},
    {"a Ctrl-C after SIGTERM ends them", {kTerm, kInt}, true, 3, true, false, true},
    {"Ctrl-C twice with no job running", {kInt, kInt}, false, 2, true, false, false},
    {"the third with no job running", {kInt, kInt, kInt}, false, 3, true, false, false},
    {"SIGTERM with no job running", {kTerm}, false, 2, true, false, false},
};

TEST(StationStopPolicy, EachSignalRaisesTheLevel) {
  for (const SignalCase& c : kSignalCases) {
    StopPolicy policy;
    StopStep step;
    for (StopSignal signal : c.signals) step = policy.on_signal(signal, kT0, c.jobs_running);
    EXPECT_EQ(policy.level(), c.level) << c.name;
    EXPECT_TRUE(policy.stopping()) << c.name;
    EXPECT_EQ(step.raised, c.raised) << c.name;
    EXPECT_EQ(step.interrupt_jobs, c.interrupt_jobs) << c.name;
    EXPECT_EQ(step.end_jobs, c.end_jobs) << c.name;
    // A kill is pending exactly when the jobs were ended.
    EXPECT_EQ(policy.kill_at().has_value(), c.level == 3 && c.jobs_running) << c.name;
  }
}

TEST(StationStopPolicy, NothingBeforeAnySignal) {
  StopPolicy policy;
  EXPECT_EQ(policy.level(), 0);
  EXPECT_FALSE(policy.stopping());
  EXPECT_FALSE(policy.kill_at());
  EXPECT_FALSE(policy.kill_due(kT0 + std::chrono::hours(1)));
}

// The jobs ended at kT0 + 500 ms; the kill is asked once, 3 s later.
struct KillCase {
  int at_ms;
  bool due;
};

TEST(StationStopPolicy, TheKillComesThreeSecondsAfterTheEnd) {
  StopPolicy policy;
  for (StopSignal signal : {kInt, kInt}) policy.on_signal(signal, kT0, true);
  policy.on_signal(kInt, kT0 + milliseconds(500), true);
  EXPECT_EQ(policy.kill_at(), kT0 + milliseconds(3500));
  const KillCase kCases[] = {{0, false}, {3499, false}, {3500, true}, {3501, false}, {9000, false}};
  for (const KillCase& c : kCases)
    EXPECT_EQ(policy.kill_due(kT0 + milliseconds(c.at_ms)), c.due) << "at " << c.at_ms << " ms";
  EXPECT_FALSE(policy.kill_at());
}

TEST(StationStopPolicy, ALateKillIsStillAskedOnce) {
  StopPolicy policy;
  for (StopSignal signal : {kTerm, kTerm}) policy.on_signal(signal, kT0, true);
  EXPECT_TRUE(policy.kill_due(kT0 + std::chrono::seconds(60)));
  EXPECT_FALSE(policy.kill_due(kT0 + std::chrono::seconds(61)));
  // A signal past the third level sets no new kill.
  policy.on_signal(kInt, kT0 + std::chrono::seconds(62), true);
  EXPECT_FALSE(policy.kill_at());
}

}  // namespace
}  // namespace vx::station
