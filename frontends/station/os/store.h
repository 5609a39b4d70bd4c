// The station's database: the pools of unit values and a record of every attempt, in SQLite (a file on
// the station, the default) or PostgreSQL (a server several stations of a line share).
//
// How a value is never given twice:
//   - take() runs one short transaction that inserts the attempt's row (result "running") and takes one
//     value from every pool: a counter or address range by moving its `next` on, a list by marking its
//     first free row with the attempt. It returns only once that transaction is committed (SQLite in WAL
//     mode with synchronous=FULL, PostgreSQL's commit), and the station starts no job before it returns,
//     so a value a board is flashed with is on disk first. A value is never put back: a failed attempt,
//     a station killed mid-run or a power cut after the commit leaves it spent.
//   - Two stations (or two processes) on one pool serialise on the transaction: SQLite's write lock
//     (BEGIN IMMEDIATE, waited for as long as the other side keeps committing, and at most kBusyWait
//     without a commit), PostgreSQL's row lock on the pool's row (UPDATE
//     ... RETURNING; the list's row taken with FOR UPDATE SKIP LOCKED).
//   - unit_values holds every value given, unique per pool: a fault anywhere else still can't record one
//     value for two attempts.
// The end of an attempt is written without a sync of its own (it reaches the disk with the next commit
// that waits for one), saving each board one wait for the disk: a power cut just after a board ended can
// leave its attempt "running", never its values unrecorded.
// An attempt still "running" whose station is gone (killed, a power cut) is marked "unfinished" when a
// station next opens the database on that host.
//
// Schema (version kSchemaVersion, in SQLite's user_version and PostgreSQL's table schema_version):
//   pools(name, kind, next, last, definition)      kind "counter", "address" or "list"
//   list_values(pool, csv_row, value, attempt)      attempt is NULL while the value is free
//   attempts(id, station, operator, host, pid, port, by_id, usb_serial, job, vexal_version, identity,
//            files, started, ended, phase, result, exit_code, error, reason, bytes, text_retries,
//            block_retries, unit_file)
//   unit_values(attempt, pool, value)               value as shown_value gives it; (pool, value) unique
// A newer station opens an older database and brings it up to date in one transaction (a migration step
// per version); a database newer than the station is refused.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontends/station/model/units.h"

namespace vx::station {

inline constexpr int kSchemaVersion = 1;
// The SQLite file of a run that names none.
inline constexpr const char* kDefaultDatabase = "vexal-station.db";
// The longest a station waits for another to release the database, while the other commits nothing,
// before it gives up.
inline constexpr std::chrono::milliseconds kBusyWait{5000};

struct AttemptStart {
  std::string station, operator_name, host;
  long pid = 0;
  std::string port, by_id, usb_serial;
  std::string job;  // the arguments as given, placeholders unreplaced, one line
  std::string started_utc;
};

struct AttemptEnd {
  std::int64_t id = 0;
  std::string ended_utc;  // "" for a board that never started its job
  std::string phase, result;
  int exit_code = 0;
  std::string error, reason;
  std::optional<std::int64_t> bytes;  // unset where vexal ended without saying (killed, crashed)
  std::optional<std::int64_t> text_retries, block_retries;
  std::string vexal_version, identity;
  std::string files;  // JSON: [{"role", "path", "size", "sha256"}, ...]
  std::string unit_file;
};

struct Taken {
  enum class Outcome { Taken, Exhausted, Failed } outcome = Outcome::Failed;
  std::int64_t attempt = 0;
  UnitValues values;
  std::string why;  // Exhausted: the pool's name; Failed: the reason
};

struct HistoryQuery {
  std::string serial, mac, port;  // "" for any; port matches the device or its by-id name
  std::string since, until;       // UTC, as the records hold it ("2026-12-09", "2026-12-09T10:00")
  bool failed_only = false;
};

struct HistoryTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};

class UnitStore {
 public:
  virtual ~UnitStore() = default;
  // Brings the schema up to date, declares the pools (a counter's next value never moves back; a list's
  // rows are added, those taken stay taken) and marks the attempts of gone stations on `host` unfinished.
  virtual bool prepare(const std::vector<PoolSpec>& pools, const std::string& host, std::string& why) = 0;
  // As described above: committed before it returns.
  virtual Taken take(const AttemptStart& start, const std::vector<PoolSpec>& pools) = 0;
  virtual bool record_end(const AttemptEnd& end, std::string& why) = 0;
  virtual bool history(const HistoryQuery& query, HistoryTable& out, std::string& why) = 0;
  // "" while the database is where it was opened; else why not (the file was removed or replaced).
  virtual std::string lost() const { return {}; }
};

// "postgresql://..." or "postgres://..." opens PostgreSQL, anything else a SQLite file (made if missing);
// nullptr with the reason.
std::unique_ptr<UnitStore> open_store(const std::string& target, std::string& why);

// True when `target` names a PostgreSQL server.
bool is_server_url(const std::string& target);

// The history as a text table (columns padded) or as CSV (RFC 4180, a header row).
std::string history_text(const HistoryTable& table);
std::string history_csv(const HistoryTable& table);

}  // namespace vx::station
