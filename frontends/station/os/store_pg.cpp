// The PostgreSQL store (store.h), through libpq: the stations of a line share one server. Every value is
// taken in one short transaction: the pool's row is locked by the UPDATE that moves its counter on, a
// list's row by FOR UPDATE SKIP LOCKED, and the commit ends it; so two stations wait for each other only
// for the length of one such transaction. The connection's waits are bounded (connect_timeout, the TCP
// user timeout, lock_timeout), so a server that went away ends a call with an error rather than a hang;
// the call after a lost connection tries once to connect again.
#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "frontends/station/os/store.h"
#include "frontends/station/os/store_sql.h"

namespace vx::station {

namespace {

// Held while one station brings the schema up to date, so two starting together don't both create it.
constexpr const char* kSchemaLockKey = "31400001";

const std::array<const char*, kSchemaVersion>& pg_migrations() {
  static const std::array<const char*, kSchemaVersion> kSteps{
      "CREATE TABLE pools(name TEXT PRIMARY KEY, kind TEXT NOT NULL, next BIGINT NOT NULL, last BIGINT NOT NULL,"
      " definition TEXT NOT NULL);"
      "CREATE TABLE list_values(pool TEXT NOT NULL, csv_row BIGINT NOT NULL, value TEXT NOT NULL, attempt BIGINT,"
      " PRIMARY KEY(pool, value));"
      "CREATE INDEX list_values_free ON list_values(pool, attempt, csv_row);"
      "CREATE TABLE attempts(id BIGSERIAL PRIMARY KEY, station TEXT, operator TEXT, host TEXT, pid BIGINT,"
      " port TEXT, by_id TEXT, usb_serial TEXT, job TEXT, vexal_version TEXT, identity TEXT, files TEXT,"
      " started TEXT NOT NULL, ended TEXT, phase TEXT, result TEXT NOT NULL, exit_code INTEGER, error TEXT,"
      " reason TEXT, bytes BIGINT, text_retries BIGINT, block_retries BIGINT, unit_file TEXT);"
      "CREATE INDEX attempts_started ON attempts(started);"
      "CREATE TABLE unit_values(attempt BIGINT NOT NULL REFERENCES attempts(id), pool TEXT NOT NULL,"
      " value TEXT NOT NULL, UNIQUE(pool, value));"
      "CREATE INDEX unit_values_attempt ON unit_values(attempt);"};
  return kSteps;
}

constexpr const char* kPgDeclarePoolSql =
    "INSERT INTO pools(name, kind, next, last, definition) VALUES($1, $2, $3, $4, $5) "
    "ON CONFLICT(name) DO UPDATE SET next = GREATEST(pools.next, excluded.next), last = excluded.last, "
    "definition = excluded.definition WHERE pools.kind = excluded.kind";
constexpr const char* kPgTakeNumberSql =
    "UPDATE pools SET next = next + 1 WHERE name = $1 AND next <= last RETURNING next - 1";
constexpr const char* kPgTakeListValueSql =
    "UPDATE list_values SET attempt = $2 WHERE (pool, value) = (SELECT pool, value FROM list_values WHERE pool = $1"
    " AND attempt IS NULL ORDER BY csv_row LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING value";
constexpr const char* kPgInsertAttemptSql =
    "INSERT INTO attempts(station, operator, host, pid, port, by_id, usb_serial, job, started, result) "
    "VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, 'running') RETURNING id";
constexpr const char* kPgMarkUnfinishedSql =
    "UPDATE attempts SET result = 'unfinished', error = 'the station ended before this attempt did (killed, or "
    "the power failed)' WHERE id = $1";
constexpr const char* kPgRecordEndSql =
    "UPDATE attempts SET ended = $1, phase = $2, result = $3, exit_code = $4, error = $5, reason = $6, bytes = $7,"
    " text_retries = $8, block_retries = $9, vexal_version = $10, identity = $11, files = $12, unit_file = $13 "
    "WHERE id = $14";
constexpr const char* kPgHistorySql =
    "SELECT a.id AS attempt, a.started, a.ended, a.station, a.operator, a.host, a.port, a.by_id, a.usb_serial,"
    " (SELECT value FROM unit_values WHERE attempt = a.id AND pool = 'serial') AS serial,"
    " (SELECT value FROM unit_values WHERE attempt = a.id AND pool = 'mac') AS mac,"
    " (SELECT value FROM unit_values WHERE attempt = a.id AND pool = 'key') AS key,"
    " a.result, a.phase, a.exit_code, a.error, a.reason, a.bytes, a.text_retries, a.block_retries,"
    " a.vexal_version, a.identity, a.job, a.files, a.unit_file "
    "FROM attempts a WHERE"
    " ($1::text = '' OR EXISTS (SELECT 1 FROM unit_values WHERE attempt = a.id AND pool = 'serial' AND value = $1))"
    " AND ($2::text = '' OR EXISTS (SELECT 1 FROM unit_values WHERE attempt = a.id AND pool = 'mac' AND value = $2))"
    " AND ($3::text = '' OR a.port = $3 OR a.by_id = $3) AND ($4::text = '' OR a.started >= $4)"
    " AND ($5::text = '' OR a.started < $5) AND ($6::integer = 0 OR a.result <> 'passed') ORDER BY a.id";

using Params = std::vector<std::optional<std::string>>;  // nullopt is SQL NULL

std::optional<std::string> param(const std::optional<std::int64_t>& number) {
  return number ? std::optional<std::string>(std::to_string(*number)) : std::nullopt;
}

struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

class PgStore : public UnitStore {
 public:
  explicit PgStore(std::string url) : url_(std::move(url)) {}
  ~PgStore() override { PQfinish(conn_); }
  bool connect(std::string& why);
  bool prepare(const std::vector<PoolSpec>& pools, const std::string& host, std::string& why) override;
  Taken take(const AttemptStart& start, const std::vector<PoolSpec>& pools) override;
  bool record_end(const AttemptEnd& end, std::string& why) override;
  bool history(const HistoryQuery& query, HistoryTable& out, std::string& why) override;

 private:
  // Runs `sql`; the result when it succeeded, else nullptr with the reason in `why_`.
  Result run(const char* sql, const Params& params = {});
  bool in_transaction(const std::function<bool()>& work, std::string& why);
  bool migrate();
  bool declare_pool(const PoolSpec& pool);
  bool mark_unfinished(const std::string& host);
  bool take_value(const PoolSpec& pool, const std::string& attempt, UnitValue& value, bool& exhausted);

  std::string url_;
  PGconn* conn_ = nullptr;
  std::string why_;
};

bool PgStore::connect(std::string& why) {
  const char* keys[] = {"dbname", "connect_timeout", "tcp_user_timeout", "keepalives_idle", nullptr};
  const std::string timeout_ms = std::to_string(kBusyWait.count());
  const std::string timeout_s = std::to_string(kBusyWait.count() / 1000);
  const char* values[] = {url_.c_str(), timeout_s.c_str(), timeout_ms.c_str(), timeout_s.c_str(), nullptr};
  PQfinish(conn_);
  conn_ = PQconnectdbParams(keys, values, /*expand_dbname=*/1);
  if (PQstatus(conn_) != CONNECTION_OK) {
    why = "can't reach the database " + url_ + ": " + tidied(PQerrorMessage(conn_));
    return false;
  }
  // The server's notices ("relation ... already exists, skipping") are no news for the operator.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  const std::string bounds = "SET lock_timeout = " + std::to_string(kBusyWait.count()) +
                             "; SET statement_timeout = " + std::to_string(2 * kBusyWait.count());
  if (!run(bounds.c_str())) {
    why = why_;
    return false;
  }
  return true;
}

Result PgStore::run(const char* sql, const Params& params) {
  if (PQstatus(conn_) != CONNECTION_OK) PQreset(conn_);  // the connection was lost: one try to get it back
  std::vector<const char*> values;
  for (const std::optional<std::string>& p : params) values.push_back(p ? p->c_str() : nullptr);
  Result result(params.empty() ? PQexec(conn_, sql)
                               : PQexecParams(conn_, sql, static_cast<int>(values.size()), nullptr, values.data(),
                                              nullptr, nullptr, 0));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
  why_ = "the database " + url_ + ": " + tidied(PQerrorMessage(conn_));
  return nullptr;
}

bool PgStore::in_transaction(const std::function<bool()>& work, std::string& why) {
  if (run("BEGIN") && work() && run("COMMIT")) return true;
  why = why_;
  if (PQstatus(conn_) == CONNECTION_OK) run("ROLLBACK");  // a lost connection rolled it back already
  return false;
}

bool PgStore::migrate() {
  if (!run((std::string("SELECT pg_advisory_xact_lock(") + kSchemaLockKey + ")").c_str())) return false;
  if (!run("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)")) return false;
  Result found = run("SELECT coalesce(max(version), 0) FROM schema_version");
  if (!found) return false;
  const int version = std::stoi(PQgetvalue(found.get(), 0, 0));
  if (version > kSchemaVersion) {
    why_ = "the database " + url_ + " was made by a newer vexal-station (schema newer than " +
           std::to_string(kSchemaVersion) + ")";
    return false;
  }
  for (int step = version; step < kSchemaVersion; ++step)
    if (!run(pg_migrations()[static_cast<std::size_t>(step)])) return false;
  return run("DELETE FROM schema_version") &&
         run("INSERT INTO schema_version(version) VALUES($1)", {std::to_string(kSchemaVersion)});
}

bool PgStore::declare_pool(const PoolSpec& pool) {
  const std::string kind = pool_kind_name(pool.kind);
  if (!run(kPgDeclarePoolSql,
           {pool.name, kind, std::to_string(pool.first), std::to_string(pool.last), pool.definition}))
    return false;
  Result stored = run("SELECT kind FROM pools WHERE name = $1", {pool.name});
  if (!stored) return false;
  if (PQntuples(stored.get()) != 1 || kind != PQgetvalue(stored.get(), 0, 0)) {
    why_ = "the database " + url_ + " holds a pool " + pool.name + " of another kind";
    return false;
  }
  for (std::size_t i = 0; i < pool.values.size(); ++i) {
    if (!run("INSERT INTO list_values(pool, csv_row, value) VALUES($1, $2, $3) ON CONFLICT DO NOTHING",
             {pool.name, std::to_string(pool.rows[i]), pool.values[i]}))
      return false;
  }
  return true;
}

bool PgStore::mark_unfinished(const std::string& host) {
  Result running = run("SELECT id, pid FROM attempts WHERE result = 'running' AND host = $1", {host});
  if (!running) return false;
  for (int r = 0; r < PQntuples(running.get()); ++r) {
    if (!station_gone(std::stol(PQgetvalue(running.get(), r, 1)))) continue;
    if (!run(kPgMarkUnfinishedSql, {std::string(PQgetvalue(running.get(), r, 0))})) return false;
  }
  return true;
}

bool PgStore::prepare(const std::vector<PoolSpec>& pools, const std::string& host, std::string& why) {
  return in_transaction(
      [&] {
        if (!migrate()) return false;
        for (const PoolSpec& pool : pools)
          if (!declare_pool(pool)) return false;
        return mark_unfinished(host);
      },
      why);
}

bool PgStore::take_value(const PoolSpec& pool, const std::string& attempt, UnitValue& value, bool& exhausted) {
  value = UnitValue{pool.name, 0, {}};
  const bool list = pool.kind == PoolKind::List;
  Result taken = list ? run(kPgTakeListValueSql, {pool.name, attempt}) : run(kPgTakeNumberSql, {pool.name});
  if (!taken) return false;
  if (PQntuples(taken.get()) == 0) {
    exhausted = true;
    return false;
  }
  const std::string got = PQgetvalue(taken.get(), 0, 0);
  if (list) {
    value.text = got;
  } else {
    value.number = std::stoull(got);
  }
  return static_cast<bool>(run("INSERT INTO unit_values(attempt, pool, value) VALUES($1, $2, $3)",
                               {attempt, pool.name, shown_value(pool, value)}));
}

Taken PgStore::take(const AttemptStart& start, const std::vector<PoolSpec>& pools) {
  Taken taken;
  std::string exhausted_pool;
  auto work = [&] {
    Result inserted =
        run(kPgInsertAttemptSql, {start.station, start.operator_name, start.host, std::to_string(start.pid), start.port,
                                  start.by_id, start.usb_serial, start.job, start.started_utc});
    if (!inserted) return false;
    const std::string attempt = PQgetvalue(inserted.get(), 0, 0);
    taken.attempt = std::stoll(attempt);
    for (const PoolSpec& pool : pools) {
      UnitValue value;
      bool exhausted = false;
      const bool got = take_value(pool, attempt, value, exhausted);
      if (exhausted) exhausted_pool = pool.name;
      if (!got) return false;
      taken.values.push_back(value);
    }
    return true;
  };
  if (in_transaction(work, taken.why)) {
    taken.outcome = Taken::Outcome::Taken;
  } else if (!exhausted_pool.empty()) {
    taken.outcome = Taken::Outcome::Exhausted;
    taken.why = exhausted_pool;
  }
  return taken;
}

// Committed without waiting for the server's disk (synchronous_commit off for this transaction alone): the
// end of an attempt is written with the next commit that waits; a crash of the server before that leaves
// the attempt "running", and so "unfinished" later. The values it took are on disk either way.
bool PgStore::record_end(const AttemptEnd& end, std::string& why) {
  return in_transaction(
      [&] {
        return run("SET LOCAL synchronous_commit = off") &&
               run(kPgRecordEndSql,
                   {end.ended_utc, end.phase, end.result, std::to_string(end.exit_code), end.error, end.reason,
                    param(end.bytes), param(end.text_retries), param(end.block_retries), end.vexal_version,
                    end.identity, end.files, end.unit_file, std::to_string(end.id)});
      },
      why);
}

bool PgStore::history(const HistoryQuery& query, HistoryTable& out, std::string& why) {
  Result rows = run(kPgHistorySql, {query.serial, query.mac, query.port, query.since, query.until,
                                    std::string(query.failed_only ? "1" : "0")});
  if (!rows) {
    why = why_;
    return false;
  }
  out = HistoryTable{};
  for (int c = 0; c < PQnfields(rows.get()); ++c) out.columns.push_back(PQfname(rows.get(), c));
  for (int r = 0; r < PQntuples(rows.get()); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < PQnfields(rows.get()); ++c) row.push_back(PQgetvalue(rows.get(), r, c));
    out.rows.push_back(std::move(row));
  }
  return true;
}

}  // namespace

std::unique_ptr<UnitStore> open_pg_store(const std::string& url, std::string& why) {
  auto store = std::make_unique<PgStore>(url);
  if (!store->connect(why)) return nullptr;
  return store;
}

}  // namespace vx::station
