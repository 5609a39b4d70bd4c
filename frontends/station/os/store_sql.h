// The SQL of the SQLite store (store.h has the schema in words). The PostgreSQL store says the same in
// its own dialect (store_pg.cpp); the result words and the history's columns are shared.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "frontends/station/os/store.h"
#include "frontends/station/views/text.h"

namespace vx::station {

inline const char* pool_kind_name(PoolKind kind) {
  switch (kind) {
    case PoolKind::Counter: return "counter";
    case PoolKind::Address: return "address";
    case PoolKind::List: return "list";
  }
  return "?";
}

// Step N brings a database of schema version N to N + 1.
inline const std::array<const char*, kSchemaVersion>& sqlite_migrations() {
  static const std::array<const char*, kSchemaVersion> kSteps{
      "CREATE TABLE pools(name TEXT PRIMARY KEY, kind TEXT NOT NULL, next INTEGER NOT NULL, last INTEGER NOT NULL,"
      " definition TEXT NOT NULL);"
      "CREATE TABLE list_values(pool TEXT NOT NULL, csv_row INTEGER NOT NULL, value TEXT NOT NULL, attempt INTEGER,"
      " PRIMARY KEY(pool, value));"
      "CREATE INDEX list_values_free ON list_values(pool, attempt, csv_row);"
      "CREATE TABLE attempts(id INTEGER PRIMARY KEY AUTOINCREMENT, station TEXT, operator TEXT, host TEXT,"
      " pid INTEGER, port TEXT, by_id TEXT, usb_serial TEXT, job TEXT, vexal_version TEXT, identity TEXT,"
      " files TEXT, started TEXT NOT NULL, ended TEXT, phase TEXT, result TEXT NOT NULL, exit_code INTEGER,"
      " error TEXT, reason TEXT, bytes INTEGER, text_retries INTEGER, block_retries INTEGER, unit_file TEXT);"
      "CREATE INDEX attempts_started ON attempts(started);"
      "CREATE TABLE unit_values(attempt INTEGER NOT NULL REFERENCES attempts(id), pool TEXT NOT NULL,"
      " value TEXT NOT NULL, UNIQUE(pool, value));"
      "CREATE INDEX unit_values_attempt ON unit_values(attempt);"};
  return kSteps;
}

// A pool's next value never moves back when it is declared again; its last value and definition follow
// the declaration. A pool of another kind under the same name is left as it is (and refused).
inline constexpr const char* kDeclarePoolSql =
    "INSERT INTO pools(name, kind, next, last, definition) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(name) DO UPDATE SET next = max(pools.next, excluded.next), last = excluded.last, "
    "definition = excluded.definition WHERE pools.kind = excluded.kind";

inline constexpr const char* kTakeNumberSql =
    "UPDATE pools SET next = next + 1 WHERE name = ?1 AND next <= last RETURNING next - 1";

inline constexpr const char* kTakeListValueSql =
    "UPDATE list_values SET attempt = ?2 WHERE rowid = (SELECT rowid FROM list_values WHERE pool = ?1 AND "
    "attempt IS NULL ORDER BY csv_row LIMIT 1) RETURNING value";

inline constexpr const char* kInsertAttemptSql =
    "INSERT INTO attempts(station, operator, host, pid, port, by_id, usb_serial, job, started, result) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, 'running')";

inline constexpr const char* kMarkUnfinishedSql =
    "UPDATE attempts SET result = 'unfinished', error = 'the station ended before this attempt did (killed, or "
    "the power failed)' WHERE id = ?1";

inline constexpr const char* kRecordEndSql =
    "UPDATE attempts SET ended = ?1, phase = ?2, result = ?3, exit_code = ?4, error = ?5, reason = ?6, bytes = ?7,"
    " text_retries = ?8, block_retries = ?9, vexal_version = ?10, identity = ?11, files = ?12, unit_file = ?13 "
    "WHERE id = ?14";

inline constexpr const char* kHistorySql =
    "SELECT a.id AS attempt, a.started, a.ended, a.station, a.operator, a.host, a.port, a.by_id, a.usb_serial,"
    " (SELECT value FROM unit_values WHERE attempt = a.id AND pool = 'serial') AS serial,"
    " (SELECT value FROM unit_values WHERE attempt = a.id AND pool = 'mac') AS mac,"
    " (SELECT value FROM unit_values WHERE attempt = a.id AND pool = 'key') AS key,"
    " a.result, a.phase, a.exit_code, a.error, a.reason, a.bytes, a.text_retries, a.block_retries,"
    " a.vexal_version, a.identity, a.job, a.files, a.unit_file "
    "FROM attempts a WHERE"
    " (?1 = '' OR EXISTS (SELECT 1 FROM unit_values WHERE attempt = a.id AND pool = 'serial' AND value = ?1))"
    " AND (?2 = '' OR EXISTS (SELECT 1 FROM unit_values WHERE attempt = a.id AND pool = 'mac' AND value = ?2))"
    " AND (?3 = '' OR a.port = ?3 OR a.by_id = ?3) AND (?4 = '' OR a.started >= ?4)"
    " AND (?5 = '' OR a.started < ?5) AND (?6 = 0 OR a.result <> 'passed') ORDER BY a.id";

// True when the station process `pid` on this host has ended (or is this one: an earlier one's pid reused).
bool station_gone(long pid);

std::unique_ptr<UnitStore> open_sqlite_store(const std::string& path, std::string& why);
std::unique_ptr<UnitStore> open_pg_store(const std::string& url, std::string& why);

}  // namespace vx::station
