// One board's job as the station knows it: the port, the job's arguments, what vexal's events said so
// far, and the result.
//
// A board goes queued -> started (its vexal runs) -> the phases vexal reports (opening, identity,
// loading, reading, writing, verifying, in any order and as often as the job needs) -> done or
// failed. Only the events move it between vexal's phases; the end comes from the process itself (its
// exit status is the result, the "end" event adds the error line, bytes and run time), so a vexal
// that crashed or was killed still ends its board, as failed. A board the station never started
// (stopped by Ctrl-C) ends as not started.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "frontends/station/events.h"
#include "frontends/station/ports.h"

namespace vx::station {

using SteadyTime = std::chrono::steady_clock::time_point;

enum class Phase {
  Queued,
  Started,
  Opening,
  Identity,
  Loading,
  Reading,
  Writing,
  Verifying,
  Done,
  Failed,
  NotStarted
};

// "loading", "done", ...
const char* phase_name(Phase phase);

// The exit code of a run that ended by a signal: as a shell reports it.
constexpr int kSignalCodeBase = 128;
// The exit code of a job whose vexal could not be started: as a shell reports a missing program.
constexpr int kNotRunCode = 127;

struct Board {
  int index = 0;  // 1, 2, ... in the order jobs were made
  PortInfo port;
  std::string name;              // short name, {name}
  std::vector<std::string> job;  // vexal's arguments after --port DEV, placeholders replaced
  std::string log_path;          // "" when logs are not kept

  Phase phase = Phase::Queued;
  std::string file;  // the file of the loading / reading / writing / verifying phase
  std::string identity;
  std::int64_t done = 0;  // progress of the current phase, bytes
  std::int64_t total = 0;
  SteadyTime started{};  // when its vexal was started
  SteadyTime phase_started{};
  SteadyTime ended{};
  std::string started_utc;  // "2026-12-08T05:08:37.123Z"

  bool got_end = false;  // the "end" event came
  int exit_code = 0;
  std::string error;
  std::int64_t bytes = 0;
  double seconds = 0;  // run time: the end event's, else the station's own measure

  bool finished() const { return phase == Phase::Done || phase == Phase::Failed || phase == Phase::NotStarted; }
  bool running() const { return !finished() && phase != Phase::Queued; }
};

// Marks the board's vexal as started at `now`.
void start_board(Board& board, SteadyTime now, std::string started_utc);

// Applies one event; true when the board's phase (or its file) changed.
bool apply_event(Board& board, const Event& event, SteadyTime now);

// Ends the board with its vexal's wait status (as waitpid gives it).
void finish_board(Board& board, int wait_status, SteadyTime now);

// Ends the board with a failure of the station's own (vexal could not be started, ...).
void fail_board(Board& board, int exit_code, const std::string& error, SteadyTime now);

// Ends a queued board that will not be started (the station was stopped first).
void skip_board(Board& board);

// Bytes a second in the current phase, 0 before any progress.
double phase_rate(const Board& board, SteadyTime now);

// Whole percent of the current phase, -1 when its size is unknown.
int phase_percent(const Board& board);

// Seconds since the board's vexal started (its run time once it ended), 0 while queued.
double board_seconds(const Board& board, SteadyTime now);

}  // namespace vx::station
