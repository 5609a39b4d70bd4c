// The station's side of the unit values: before a board's job starts, its values are taken from the
// database (committed: store.h) and its {unit.bin} file is made; when it ends, its attempt is recorded.
//
// The boards' files go into a folder of the run's own (mode 0700, the database's name with ".units"),
// one file per attempt named after its record's number, made with O_EXCL so nothing planted there is
// written through, and kept there beside the record (its unit_file).
//
// A record the database can't take at a board's end (the server went away, the disk is full) goes to a
// journal in that folder (journal.jsonl, one JSON object a line, written and synced at once) and is put
// into the database the next time a station opens it; until then no new board starts (take fails too).
#pragma once

#include <chrono>
#include <string>

#include "frontends/station/model/board.h"
#include "frontends/station/os/store.h"
#include "frontends/station/production.h"

namespace vx::station {

struct Attendant {
  std::string station, operator_name, host;
};

class UnitKeeper {
 public:
  UnitKeeper(const UnitSetup& setup, UnitStore& store, Attendant who, std::string job_line)
      : setup_(setup), store_(store), who_(std::move(who)), job_line_(std::move(job_line)) {}

  // Makes the run's folder and puts the journal of an earlier run into the database; false with why.
  bool open(std::string& why);

  enum class Begun { Ready, Exhausted, Failed };
  // Takes the board's values, makes its file and replaces the unit placeholders in board.job. Ready: the
  // board may start. Exhausted: `why` names the pool that ran out. Failed: `why` says what failed.
  Begun begin(Board& board, std::string& why);

  // Records the board's end; "" when recorded, else what failed (it went to the journal).
  std::string end(const Board& board);

  // The wall time spent in begin() and end() so far: what the values and records cost the run.
  double seconds_spent() const { return std::chrono::duration<double>(spent_).count(); }

 private:
  bool journal(const AttemptEnd& end, std::string& why);
  std::string journal_path() const;

  const UnitSetup& setup_;
  UnitStore& store_;
  Attendant who_;
  std::string job_line_;
  bool journaled_ = false;  // a record went to the journal: no more boards start
  std::chrono::steady_clock::duration spent_{};
};

// What the database keeps of an ended board (exposed for the tests).
AttemptEnd attempt_end(const Board& board);

}  // namespace vx::station
