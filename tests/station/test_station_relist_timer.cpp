// Watch mode's relist timer: when the ports are listed again after the device watcher's changes, or
// every 2 s without a watcher, on made-up times.
#include <gtest/gtest.h>

#include <optional>

#include "frontends/station/model/relist_timer.h"
#include "station_test_support.h"

namespace vx::station {
namespace {

using std::chrono::milliseconds;

// One step of a scenario, at kT0 + at_ms.
struct Step {
  enum Kind { Start, Change, Due, Listed, Next, Stop } kind;
  int at_ms;
  bool due = false;              // Due: the answer expected
  std::optional<int> next = {};  // Next: the wake time expected (ms after kT0), none
  bool stopping = false;         // Next: asked while the station stops
};

struct Scenario {
  const char* name;
  bool polling;
  std::vector<Step> steps;
};

const Scenario kScenarios[] = {
    {"the first listing is due at once",
     false,
     {{Step::Start, 0},
      {Step::Next, 0, false, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Next, 0, false, std::nullopt},
      {Step::Due, 60000, false}}},
    {"a change 0.3 s later, but never within 1 s of the last listing",
     false,
     {{Step::Start, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Change, 100},
      {Step::Next, 100, false, 1000},
      {Step::Due, 999, false},
      {Step::Due, 1000, true},
      {Step::Listed, 1000},
      {Step::Change, 5000},
      {Step::Next, 5000, false, 5300},
      {Step::Due, 5299, false},
      {Step::Due, 5300, true}}},
    {"a burst of changes: 0.3 s after the last",
     false,
     {{Step::Start, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Change, 5000},
      {Step::Change, 5200},
      {Step::Next, 5200, false, 5500},
      {Step::Due, 5300, false},
      {Step::Due, 5500, true}}},
    {"a due time stays due while the station stops",
     false,
     {{Step::Start, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Change, 5000},
      {Step::Next, 5000, false, 5300, true}}},
    {"without a watcher: every 2 s after the last listing",
     true,
     {{Step::Start, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Next, 0, false, 2000},
      {Step::Due, 1999, false},
      {Step::Due, 2000, true},
      {Step::Listed, 2000},
      {Step::Next, 2000, false, 4000},
      {Step::Due, 4500, true},
      {Step::Listed, 4500},
      {Step::Next, 4500, false, 6500}}},
    {"stopped with a listing due: nothing stays due, none is next",
     false,
     {{Step::Start, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Change, 5000},
      {Step::Stop, 5100},
      {Step::Next, 6000, false, std::nullopt, true},
      {Step::Due, 6000, false},
      {Step::Change, 7000},
      {Step::Next, 8000, false, std::nullopt, true},
      {Step::Due, 8000, false}}},
    {"without a watcher, asked before the station stops: no next listing while stopping",
     true,
     {{Step::Start, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Due, 1000, false},
      {Step::Next, 3000, false, std::nullopt, true}}},
    {"stopped without a watcher: none is next, nothing is due",
     true,
     {{Step::Start, 0},
      {Step::Due, 0, true},
      {Step::Listed, 0},
      {Step::Due, 1000, false},
      {Step::Stop, 1000},
      {Step::Next, 3000, false, std::nullopt, false},
      {Step::Due, 3000, false}}},
    {"without a watcher, stopping: no next listing",
     true,
     {{Step::Start, 0}, {Step::Due, 0, true}, {Step::Listed, 0}, {Step::Next, 0, false, std::nullopt, true}}},
};

void run_step(RelistTimer& timer, const Step& step, const char* name) {
  const SteadyTime at = kT0 + milliseconds(step.at_ms);
  switch (step.kind) {
    case Step::Start: timer.start(at); break;
    case Step::Change: timer.device_changed(at); break;
    case Step::Listed: timer.listed(at); break;
    case Step::Stop: timer.stop(); break;
    case Step::Due: EXPECT_EQ(timer.due(at), step.due) << name << " at " << step.at_ms; break;
    case Step::Next: {
      const std::optional<SteadyTime> expected =
          step.next ? std::optional<SteadyTime>(kT0 + milliseconds(*step.next)) : std::nullopt;
      EXPECT_EQ(timer.next(step.stopping), expected) << name << " at " << step.at_ms;
      break;
    }
  }
}

TEST(StationRelistTimer, Scenarios) {
  for (const Scenario& scenario : kScenarios) {
    RelistTimer timer(scenario.polling);
    for (const Step& step : scenario.steps) run_step(timer, step, scenario.name);
  }
}

TEST(StationRelistTimer, NothingIsDueBeforeTheStart) {
  RelistTimer timer(false);
  EXPECT_FALSE(timer.next(false));
  EXPECT_FALSE(timer.due(kT0));
}

}  // namespace
}  // namespace vx::station
