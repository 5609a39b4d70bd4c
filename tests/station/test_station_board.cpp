// A board's state as its vexal's events and its end move it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "frontends/station/board.h"
#include "station_test_support.h"

namespace vx::station {
namespace {

using std::chrono::milliseconds;

Event phase(const char* name, const char* file = "") {
  Event e;
  e.kind = EventKind::Phase;
  e.phase = name;
  e.file = file;
  return e;
}

Event progress(std::int64_t done, std::int64_t total) {
  Event e;
  e.kind = EventKind::Progress;
  e.done = done;
  e.total = total;
  return e;
}

Event end_event(int code, const char* error, std::int64_t bytes) {
  Event e;
  e.kind = EventKind::End;
  e.code = code;
  e.text = error;
  e.bytes = bytes;
  return e;
}

Board started_board() {
  Board board;
  start_board(board, kT0, "2026-12-08T05:08:37.000Z");
  return board;
}

TEST(StationBoard, PhasesInTheOrderVexalReportsThem) {
  Board board = started_board();
  EXPECT_EQ(board.phase, Phase::Started);
  const struct {
    Event event;
    bool changed;
    Phase phase;
    const char* file;
  } steps[] = {
      {phase("opening"), true, Phase::Opening, ""},
      {phase("opening"), false, Phase::Opening, ""},
      {phase("identity"), true, Phase::Identity, ""},
      {phase("loading", "boot.s28"), true, Phase::Loading, "boot.s28"},
      {phase("loading", "app.s28"), true, Phase::Loading, "app.s28"},  // a nested file: same phase, new file
      {phase("loading", "app.s28"), false, Phase::Loading, "app.s28"},
      {phase("calibrating"), false, Phase::Loading, "app.s28"},  // unknown: the row keeps what it knew
      {phase("verifying", "app.s28"), true, Phase::Verifying, "app.s28"},
      {phase("reading", "out.bin"), true, Phase::Reading, "out.bin"},
      {phase("writing", "key.bin"), true, Phase::Writing, "key.bin"},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(apply_event(board, step.event, kT0), step.changed) << step.event.phase;
    EXPECT_EQ(board.phase, step.phase) << step.event.phase;
    EXPECT_EQ(board.file, step.file) << step.event.phase;
  }
}

TEST(StationBoard, ProgressRateAndPercentBelongToThePhase) {
  Board board = started_board();
  apply_event(board, phase("loading", "fw.s28"), kT0 + milliseconds(500));
  EXPECT_EQ(phase_percent(board), -1);
  EXPECT_EQ(phase_rate(board, kT0 + milliseconds(500)), 0);
  apply_event(board, progress(20000, 80000), kT0 + milliseconds(2500));
  EXPECT_EQ(phase_percent(board), 25);
  EXPECT_DOUBLE_EQ(phase_rate(board, kT0 + milliseconds(2500)), 10000.0);
  apply_event(board, progress(79999, 80000), kT0 + milliseconds(2600));
  EXPECT_EQ(phase_percent(board), 99);  // 100 % only when it is all there
  apply_event(board, phase("verifying", "fw.s28"), kT0 + milliseconds(3000));
  EXPECT_EQ(phase_percent(board), -1);
  EXPECT_EQ(board.done, 0);
  EXPECT_DOUBLE_EQ(board_seconds(board, kT0 + milliseconds(3000)), 3.0);
}

TEST(StationBoard, IdentityIsKept) {
  Board board = started_board();
  Event identity;
  identity.kind = EventKind::Identity;
  identity.text = "VQ-3140 ZARVEN v1.28";
  EXPECT_FALSE(apply_event(board, identity, kT0));
  EXPECT_EQ(board.identity, "VQ-3140 ZARVEN v1.28");
}

TEST(StationBoard, TheExitStatusDecidesTheResult) {
  const struct {
    std::vector<Event> events;
    int wait_status;
    Phase phase;
    int exit_code;
    const char* error;
  } cases[] = {
      {{end_event(0, "", 65536)}, W_EXITCODE(0, 0), Phase::Done, 0, ""},
      {{end_event(5, "Error: No response.", 128)}, W_EXITCODE(5, 0), Phase::Failed, 5, "Error: No response."},
      // the status wins over what the end event said
      {{end_event(0, "", 0)}, W_EXITCODE(3, 0), Phase::Failed, 3, ""},
      {{}, W_EXITCODE(4, 0), Phase::Failed, 4, "vexal ended with exit code 4 and no end event"},
      {{}, W_EXITCODE(0, SIGKILL), Phase::Failed, 128 + SIGKILL, "vexal ended by signal 9 (Killed)"},
      {{end_event(9, "Error: Verify failed at 010005: expected 78, found 00.", 0)},
       W_EXITCODE(0, SIGSEGV),
       Phase::Failed,
       128 + SIGSEGV,
       "Error: Verify failed at 010005: expected 78, found 00."},
      {{}, W_EXITCODE(0, 0), Phase::Done, 0, ""},
  };
  for (const auto& c : cases) {
    Board board = started_board();
    for (const Event& e : c.events) apply_event(board, e, kT0);
    finish_board(board, c.wait_status, kT0 + milliseconds(1250));
    EXPECT_EQ(board.phase, c.phase) << c.error;
    EXPECT_EQ(board.exit_code, c.exit_code) << c.error;
    EXPECT_EQ(board.error, c.error);
    EXPECT_DOUBLE_EQ(board.seconds, 1.25);
    EXPECT_TRUE(board.finished());
  }
}

TEST(StationBoard, BytesComeFromTheEndEvent) {
  Board board = started_board();
  apply_event(board, progress(1000, 2000), kT0);
  apply_event(board, end_event(0, "", 2000), kT0);
  finish_board(board, W_EXITCODE(0, 0), kT0 + milliseconds(10));
  EXPECT_EQ(board.bytes, 2000);
}

TEST(StationBoard, AnEndedBoardTakesNoMoreEvents) {
  Board board = started_board();
  finish_board(board, W_EXITCODE(0, 0), kT0);
  EXPECT_FALSE(apply_event(board, phase("loading", "late.s28"), kT0));
  EXPECT_EQ(board.phase, Phase::Done);
}

TEST(StationBoard, FailuresOfTheStationsOwn) {
  Board queued;
  fail_board(queued, kNotRunCode, "can't run vexal: No such file or directory", kT0);
  EXPECT_EQ(queued.phase, Phase::Failed);
  EXPECT_EQ(queued.exit_code, 127);
  EXPECT_DOUBLE_EQ(queued.seconds, 0);

  Board skipped;
  skip_board(skipped);
  EXPECT_EQ(skipped.phase, Phase::NotStarted);
  EXPECT_TRUE(skipped.finished());
  EXPECT_FALSE(skipped.running());
  EXPECT_EQ(board_seconds(skipped, kT0), 0);
}

TEST(StationBoard, PhaseNames) {
  const struct {
    Phase phase;
    const char* name;
  } cases[] = {{Phase::Queued, "queued"},         {Phase::Opening, "opening"}, {Phase::Identity, "identity"},
               {Phase::Loading, "loading"},       {Phase::Reading, "reading"}, {Phase::Writing, "writing"},
               {Phase::Verifying, "verifying"},   {Phase::Done, "done"},       {Phase::Failed, "failed"},
               {Phase::NotStarted, "not started"}};
  for (const auto& c : cases) EXPECT_STREQ(phase_name(c.phase), c.name);
}

}  // namespace
}  // namespace vx::station
