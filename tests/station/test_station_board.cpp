// A board's state as its vexal's events and its end move it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "frontends/station/model/board.h"
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

// The bytes are what the end event said, and unknown (null in the reports) without one: a vexal killed
// before it could say, or one that writes no events.
TEST(StationBoard, TheExitStatusDecidesTheResult) {
  const struct {
    std::vector<Event> events;
    int wait_status;
    Phase phase;
    int exit_code;
    const char* error;
    Count bytes;
  } cases[] = {
      {{end_event(0, "", 65536)}, W_EXITCODE(0, 0), Phase::Done, 0, "", 65536},
      {{end_event(5, "Error: No response.", 128)}, W_EXITCODE(5, 0), Phase::Failed, 5, "Error: No response.", 128},
      // the status wins over what the end event said
      {{end_event(0, "", 0)}, W_EXITCODE(3, 0), Phase::Failed, 3, "", 0},
      {{}, W_EXITCODE(4, 0), Phase::Failed, 4, "vexal ended with exit code 4 and no end event", std::nullopt},
      {{progress(4096, 8192)},
       W_EXITCODE(0, SIGKILL),
       Phase::Failed,
       128 + SIGKILL,
       "vexal ended by signal 9 (Killed)",
       std::nullopt},
      {{end_event(9, "Error: Verify failed at 010005: expected 78, found 00.", 0)},
       W_EXITCODE(0, SIGSEGV),
       Phase::Failed,
       128 + SIGSEGV,
       "Error: Verify failed at 010005: expected 78, found 00.",
       0},
      {{}, W_EXITCODE(0, 0), Phase::Done, 0, "", std::nullopt},
  };
  for (const auto& c : cases) {
    Board board = started_board();
    for (const Event& e : c.events) apply_event(board, e, kT0);
    finish_board(board, c.wait_status, kT0 + milliseconds(1250), "2026-12-08T05:08:38.250Z");
    EXPECT_EQ(board.phase, c.phase) << c.error;
    EXPECT_EQ(board.exit_code, c.exit_code) << c.error;
    EXPECT_EQ(board.error, c.error);
    EXPECT_EQ(board.bytes, c.bytes) << c.error;
    EXPECT_DOUBLE_EQ(board.seconds, 1.25);
    EXPECT_TRUE(board.finished());
  }
}

TEST(StationBoard, BytesComeFromTheEndEvent) {
  Board board = started_board();
  apply_event(board, progress(1000, 2000), kT0);
  apply_event(board, end_event(0, "", 2000), kT0);
  finish_board(board, W_EXITCODE(0, 0), kT0 + milliseconds(10), "");
  EXPECT_EQ(board.bytes, 2000);
}

// What a newer vexal adds: the files it read, its version, the end's reason, bytes apart and retries;
// texts padded to the console's width come out tidied.
TEST(StationBoard, TraceabilityFromTheEvents) {
  Board board = started_board();
  Event start;
  start.kind = EventKind::Start;
  start.text = "0.96";
  Event file;
  file.kind = EventKind::File;
  file.role = "command";
  file.path = "fw.s28";
  file.size = 1234;
  file.sha256 = std::string(64, 'a');
  Event fifo = file;
  fifo.role = "binput";
  fifo.path = "/dev/stdin";
  fifo.size.reset();
  fifo.sha256.clear();
  Event end = end_event(4,
                        "Error:s|!refused   "
                        "      |   ",
                        300);
  end.reason = "  block 3 refused after 8 attempts;      answer '!refused'  ";
  end.written = 256;
  end.read = 44;
  end.text_retries = 2;
  end.block_retries = 7;
  for (const Event& e : {start, file, file, fifo, end}) apply_event(board, e, kT0);
  finish_board(board, W_EXITCODE(4, 0), kT0 + milliseconds(10), "2026-12-08T05:08:37.010Z");
  EXPECT_EQ(board.vexal_version, "0.96");
  EXPECT_EQ(board.files, (std::vector<JobFile>{{"command", "fw.s28", 1234, std::string(64, 'a')},
                                               {"binput", "/dev/stdin", std::nullopt, ""}}));  // the repeat: once
  EXPECT_EQ(board.error, "Error:s|!refused |");
  EXPECT_EQ(board.reason, "block 3 refused after 8 attempts; answer '!refused'");
  EXPECT_EQ(failure_words(board), "Error:s|!refused | (block 3 refused after 8 attempts; answer '!refused')");
  EXPECT_EQ(board.written, 256);
  EXPECT_EQ(board.read, 44);
  EXPECT_EQ(board.text_retries, 2);
  EXPECT_EQ(board.block_retries, 7);
  EXPECT_EQ(board.ended_utc, "2026-12-08T05:08:37.010Z");

  Board older = started_board();  // a vexal that says none of it
  apply_event(older, end_event(0, "", 10), kT0);
  EXPECT_FALSE(older.written || older.read || older.text_retries || older.block_retries);
  EXPECT_TRUE(older.files.empty());
}

// What the reports may say: only an ended board passed or failed.
TEST(StationBoard, ResultsSayOnlyWhatIsKnown) {
  Board board;
  EXPECT_STREQ(board_result(board), "waiting");
  start_board(board, kT0, "");
  EXPECT_STREQ(board_result(board), "running");
  apply_event(board, phase("loading", "fw.s28"), kT0);
  apply_event(board, end_event(0, "", 10), kT0);  // the end event alone is no end: the process decides
  EXPECT_STREQ(board_result(board), "running");
  finish_board(board, W_EXITCODE(0, 0), kT0, "");
  EXPECT_STREQ(board_result(board), "passed");
  Board failed = started_board();
  finish_board(failed, W_EXITCODE(1, 0), kT0, "");
  EXPECT_STREQ(board_result(failed), "failed");
  Board skipped;
  skip_board(skipped);
  EXPECT_STREQ(board_result(skipped), "not started");
}

TEST(StationBoard, AnEndedBoardTakesNoMoreEvents) {
  Board board = started_board();
  finish_board(board, W_EXITCODE(0, 0), kT0, "");
  EXPECT_FALSE(apply_event(board, phase("loading", "late.s28"), kT0));
  EXPECT_EQ(board.phase, Phase::Done);
}

TEST(StationBoard, FailuresOfTheStationsOwn) {
  Board queued;
  fail_board(queued, kNotRunCode, "can't run vexal: No such file or directory", kT0, "");
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
