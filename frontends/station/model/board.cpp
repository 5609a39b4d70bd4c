#include "frontends/station/model/board.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

// A board's phases and their names, both those vexal's events give (read back from "phase" events) and
// the station's own. The station keeps its own list rather than vexal's: it knows vexal only through its
// process, and the event contract test holds this list to what vexal writes.
struct NamedPhase {
  Phase phase;
  const char* name;
  bool from_vexal;
};
constexpr NamedPhase kPhaseNames[] = {
    {Phase::Queued, "queued", false},    {Phase::Started, "started", false},        {Phase::Opening, "opening", true},
    {Phase::Identity, "identity", true}, {Phase::Loading, "loading", true},         {Phase::Reading, "reading", true},
    {Phase::Writing, "writing", true},   {Phase::Verifying, "verifying", true},     {Phase::Done, "done", false},
    {Phase::Failed, "failed", false},    {Phase::NotStarted, "not started", false},
};

double seconds_between(SteadyTime from, SteadyTime to) { return std::chrono::duration<double>(to - from).count(); }

bool enter_phase(Board& board, const Event& event, SteadyTime now) {
  const std::optional<Phase> phase = vexal_phase_named(event.phase);
  if (!phase) return false;  // a phase of a newer vexal: the row keeps the last known
  if (*phase == board.phase && event.file == board.file) return false;
  board.phase = board.reached = *phase;
  board.file = event.file;
  board.done = 0;
  board.total = 0;
  board.phase_started = now;
  return true;
}

void note_file(Board& board, const Event& event) {
  JobFile file{event.role, event.path, event.size, event.sha256};
  if (std::find(board.files.begin(), board.files.end(), file) == board.files.end()) board.files.push_back(file);
}

void note_end(Board& board, const Event& event) {
  board.got_end = true;
  board.error = tidied(event.text);
  board.reason = tidied(event.reason);
  board.bytes = event.bytes;
  board.written = event.written;
  board.read = event.read;
  board.text_retries = event.text_retries;
  board.block_retries = event.block_retries;
}

std::string signal_error(int signal_number) {
  const char* name = ::strsignal(signal_number);
  return "vexal ended by signal " + std::to_string(signal_number) + (name ? std::string(" (") + name + ")" : "");
}

}  // namespace

const char* phase_name(Phase phase) {
  for (const NamedPhase& named : kPhaseNames)
    if (named.phase == phase) return named.name;
  return "?";
}

std::optional<Phase> vexal_phase_named(std::string_view name) {
  for (const NamedPhase& named : kPhaseNames)
    if (named.from_vexal && name == named.name) return named.phase;
  return std::nullopt;
}

const char* board_result(const Board& board) {
  switch (board.phase) {
    case Phase::Queued: return "waiting";
    case Phase::Done: return "passed";
    case Phase::Failed: return "failed";
    case Phase::NotStarted: return "not started";
    default: return "running";
  }
}

std::string failure_words(const Board& board) {
  if (board.reason.empty()) return board.error;
  return board.error.empty() ? board.reason : board.error + " (" + board.reason + ")";
}

void start_board(Board& board, SteadyTime now, std::string started_utc) {
  board.phase = Phase::Started;
  board.started = now;
  board.phase_started = now;
  board.started_utc = std::move(started_utc);
}

bool apply_event(Board& board, const Event& event, SteadyTime now) {
  if (board.finished()) return false;
  switch (event.kind) {
    case EventKind::Phase: return enter_phase(board, event, now);
    case EventKind::Identity: board.identity = event.text; return false;
    case EventKind::Progress:
      board.done = event.done;
      board.total = event.total;
      return false;
    case EventKind::File: note_file(board, event); return false;
    case EventKind::End: note_end(board, event); return false;
    case EventKind::Start: board.vexal_version = event.text; return false;
    case EventKind::Other: return false;
  }
  return false;
}

void finish_board(Board& board, int wait_status, SteadyTime now, std::string ended_utc) {
  if (WIFSIGNALED(wait_status)) {
    board.exit_code = kSignalCodeBase + WTERMSIG(wait_status);
    if (board.error.empty()) board.error = signal_error(WTERMSIG(wait_status));
  } else {
    board.exit_code = WEXITSTATUS(wait_status);
    if (board.exit_code != 0 && board.error.empty() && !board.got_end)
      board.error = "vexal ended with exit code " + std::to_string(board.exit_code) + " and no end event";
  }
  board.phase = board.exit_code == 0 ? Phase::Done : Phase::Failed;
  board.ended = now;
  board.ended_utc = std::move(ended_utc);
  board.seconds = seconds_between(board.started, now);
}

void fail_board(Board& board, int exit_code, const std::string& error, SteadyTime now, std::string ended_utc) {
  if (board.phase == Phase::Queued) board.started = now;
  board.phase = Phase::Failed;
  board.exit_code = exit_code;
  board.error = error;
  board.ended = now;
  board.ended_utc = std::move(ended_utc);
  board.seconds = seconds_between(board.started, now);
}

void skip_board(Board& board) {
  board.phase = Phase::NotStarted;
  board.error = "not started: the station was stopped first";
}

double phase_rate(const Board& board, SteadyTime now) {
  double seconds = seconds_between(board.phase_started, now);
  return board.done > 0 && seconds > 0 ? static_cast<double>(board.done) / seconds : 0;
}

int phase_percent(const Board& board) {
  if (board.total <= 0) return -1;
  return static_cast<int>(board.done * 100 / board.total);
}

double board_seconds(const Board& board, SteadyTime now) {
  if (board.phase == Phase::Queued || board.phase == Phase::NotStarted) return 0;
  return board.finished() ? board.seconds : seconds_between(board.started, now);
}

}  // namespace vx::station
