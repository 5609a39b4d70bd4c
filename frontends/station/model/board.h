// One board's job as the station knows it: the port, the job's arguments, what vexal's events said so
// far, and the result. This is the one record of a board: the live table, the log lines, the reports
// and any other view read it and keep no state of their own about the board.
//
// A board goes queued -> started (its vexal runs) -> the phases vexal reports (opening, identity,
// loading, reading, writing, verifying, in any order and as often as the job needs) -> done or
// failed. Only the events move it between vexal's phases; the end comes from the process itself (its
// exit status is the result, the "end" event adds the error line, bytes and run time), so a vexal
// that crashed or was killed still ends its board, as failed. A board the station never started
// (stopped by Ctrl-C) ends as not started.
//
// What a view may say depends on the state: a queued board is "waiting", a board between started and
// its end is "running" and has no exit code, error or end time yet; only an ended board is "passed",
// "failed" or "not started" (board_result). Texts from vexal (error line, reason) are kept tidied:
// runs of blanks (a console line padded to its width) cut to one, none at either end.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontends/station/model/clock.h"
#include "frontends/station/model/events.h"
#include "frontends/station/os/ports.h"

namespace vx::station {

enum class Phase { Queued, Started, Opening, Identity, Loading, Reading, Writing, Verifying, Done, Failed, NotStarted };

// "loading", "done", ...
const char* phase_name(Phase phase);
// The phase a vexal "phase" event names ("loading"), or nothing for a name that is none of vexal's phases
// (one of a newer vexal, or a phase only the station gives a board, such as "done").
std::optional<Phase> vexal_phase_named(std::string_view name);

// The exit code of a run that ended by a signal: as a shell reports it.
constexpr int kSignalCodeBase = 128;
// The exit code of a job whose vexal could not be started: as a shell reports a missing program.
constexpr int kNotRunCode = 127;

// A file the job read, as vexal reported it when it opened it.
struct JobFile {
  std::string role;  // command, nested, binput, verify, load
  std::string path;  // as the job named it
  Count size;        // unset for a FIFO or a terminal
  std::string sha256;

  bool operator==(const JobFile&) const = default;
};

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
  std::string started_utc;  // "2026-12-08T05:08:37.123Z", when the station started its vexal
  std::string ended_utc;    // when the station saw its vexal end

  std::string vexal_version;   // from the start event
  std::vector<JobFile> files;  // each distinct file the job opened, in order
  bool got_end = false;        // the "end" event came
  int exit_code = 0;
  std::string error;    // the console's error line, tidied
  std::string reason;   // vexal's reason (standard error), tidied; "" when not given
  Count bytes;          // data bytes written and read, where vexal's end event said so
  Count written, read;  // apart, where vexal said so
  Count text_retries, block_retries;
  double seconds = 0;             // run time: the station's own measure
  Phase reached = Phase::Queued;  // the last of vexal's phases the board entered, kept past its end

  // Its unit values (units.h), when the run declares pools or keeps a database:
  std::int64_t attempt = 0;                                // its record's number in the database; 0 when it has none
  std::vector<std::pair<std::string, std::string>> units;  // pool and value, as the records show it
  std::string unit_file;                                   // its {unit.bin}, "" when none

  bool finished() const { return phase == Phase::Done || phase == Phase::Failed || phase == Phase::NotStarted; }
  bool running() const { return !finished() && phase != Phase::Queued; }
};

// "waiting", "running", "passed", "failed" or "not started": what the reports say of the board.
const char* board_result(const Board& board);

// A failed board's error line with its reason: "Error: ... (reason)", or either alone.
std::string failure_words(const Board& board);

// Marks the board's vexal as started at `now`.
void start_board(Board& board, SteadyTime now, std::string started_utc);

// Applies one event; true when the board's phase (or its file) changed.
bool apply_event(Board& board, const Event& event, SteadyTime now);

// Ends the board with its vexal's wait status (as waitpid gives it), at `now` (`ended_utc`).
void finish_board(Board& board, int wait_status, SteadyTime now, std::string ended_utc);

// Ends the board with a failure of the station's own (vexal could not be started, ...).
void fail_board(Board& board, int exit_code, const std::string& error, SteadyTime now, std::string ended_utc);

// Ends a queued board that will not be started (the station was stopped first).
void skip_board(Board& board);

// Bytes a second in the current phase, 0 before any progress.
double phase_rate(const Board& board, SteadyTime now);

// Whole percent of the current phase, -1 when its size is unknown.
int phase_percent(const Board& board);

// Seconds since the board's vexal started (its run time once it ended), 0 while queued.
double board_seconds(const Board& board, SteadyTime now);

}  // namespace vx::station
