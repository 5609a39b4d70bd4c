// The SQLite store (store.h): one file, in WAL mode so that a reader (history, a second station) never
// waits for a writer, synchronous=FULL so that a commit is on disk when it returns, and a busy handler
// (LockWait) so that two stations on one file take turns instead of failing.
//
// The wait's bound is kBusyWait without progress, not in all: while the other station keeps committing
// (its write-ahead log changes), the lock is in use, not stuck, and the wait goes on. On a slow disk a
// station preparing many boards holds the lock for commit after commit, and SQLite's own timeout would
// make the other give up although nothing is wrong; a process that holds the lock and does nothing
// still ends the wait after kBusyWait.
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "frontends/station/os/store.h"
#include "frontends/station/os/store_sql.h"

namespace vx::station {

namespace {

// One prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    prepared_ = sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
    if (prepared_ != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  Statement& bind(int at, const std::string& text) {
    sqlite3_bind_text(statement_, at, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int at, std::int64_t number) {
    sqlite3_bind_int64(statement_, at, number);
    return *this;
  }
  Statement& bind(int at, const std::optional<std::int64_t>& number) {
    if (number) return bind(at, *number);
    sqlite3_bind_null(statement_, at);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return statement_ ? sqlite3_step(statement_) : prepared_; }
  std::string text(int column) const {
    const unsigned char* value = sqlite3_column_text(statement_, column);
    return value ? reinterpret_cast<const char*>(value) : "";
  }
  std::int64_t number(int column) const { return sqlite3_column_int64(statement_, column); }
  int columns() const { return sqlite3_column_count(statement_); }
  std::string column_name(int column) const { return sqlite3_column_name(statement_, column); }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int prepared_ = SQLITE_OK;  // what preparing it gave (SQLITE_BUSY when the schema was locked)
};

// What a failed call says, as a station's operator reads it.
std::string failure(sqlite3* db, const std::string& path, int code) {
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
    return formatted("the database %s is locked by another process (waited %lld s)", path.c_str(),
                     static_cast<long long>(kBusyWait.count() / 1000));
  if (code == SQLITE_READONLY) return "the database " + path + " is read-only";
  if (code == SQLITE_FULL) return "the disk of the database " + path + " is full";
  return "the database " + path + ": " + sqlite3_errmsg(db);
}

// The busy handler's state: when the other side last made progress, seen as a change of the
// write-ahead log's size or modification time.
class LockWait {
 public:
  explicit LockWait(std::string wal_path) : wal_path_(std::move(wal_path)) {}
  // SQLite's busy handler: `tries` is 0 on the first call of a wait. Returns 1 to try again, 0 to give up.
  static int on_busy(void* self, int tries) { return static_cast<LockWait*>(self)->still_waiting(tries) ? 1 : 0; }
  // One more turn of a wait whose first turn has `tries` 0: sleeps a moment and returns true, or returns
  // false once kBusyWait has passed without the other side committing.
  bool still_waiting(int tries) {
    const Clock::time_point now = Clock::now();
    const Stamp stamp = wal_stamp();
    if (tries == 0 || !(stamp == last_)) {
      last_ = stamp;
      progress_ = now;
    }
    if (now - progress_ >= kBusyWait) return false;
    std::this_thread::sleep_for(kPoll);
    return true;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kPoll{10};

  struct Stamp {
    off_t size = -1;
    long long modified_ns = -1;
    bool operator==(const Stamp&) const = default;
  };

  Stamp wal_stamp() const {
    struct stat info {};
    if (::stat(wal_path_.c_str(), &info) != 0) return {};
    return {info.st_size, static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
  }

  std::string wal_path_;
  Stamp last_;
  Clock::time_point progress_;
};

class SqliteStore : public UnitStore {
 public:
  explicit SqliteStore(std::string path) : path_(std::move(path)), lock_wait_(path_ + "-wal") {}
  ~SqliteStore() override { sqlite3_close(db_); }
  bool open(std::string& why);
  bool prepare(const std::vector<PoolSpec>& pools, const std::string& host, std::string& why) override;
  Taken take(const AttemptStart& start, const std::vector<PoolSpec>& pools) override;
  bool record_end(const AttemptEnd& end, std::string& why) override;
  bool history(const HistoryQuery& query, HistoryTable& out, std::string& why) override;
  std::string lost() const override;

 private:
  int exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
  int use_wal();
  bool in_transaction(const std::function<int()>& work, std::string& why);
  int migrate();
  int declare_pool(const PoolSpec& pool);
  int mark_unfinished(const std::string& host);
  int take_value(const PoolSpec& pool, std::int64_t attempt, UnitValue& value, bool& exhausted);
  int record_end_statement(const AttemptEnd& end);

  std::string path_;
  LockWait lock_wait_;
  sqlite3* db_ = nullptr;
  ino_t inode_ = 0;
  dev_t device_ = 0;
};

bool SqliteStore::open(std::string& why) {
  int code = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (code == SQLITE_OK) code = sqlite3_busy_handler(db_, &LockWait::on_busy, &lock_wait_);
  if (code == SQLITE_OK) code = use_wal();
  if (code == SQLITE_ROW) code = exec("PRAGMA synchronous=FULL");
  if (code != SQLITE_OK) {
    why = db_ ? failure(db_, path_, code) : "can't open the database " + path_;
    if (code == SQLITE_CANTOPEN && db_)
      why = "can't open the database " + path_ + ": " + std::strerror(sqlite3_system_errno(db_));
    return false;
  }
  struct stat info {};
  if (::stat(path_.c_str(), &info) == 0) {
    inode_ = info.st_ino;
    device_ = info.st_dev;
  }
  return true;
}

// Switches the file to WAL mode (SQLITE_ROW when it is in it). Two stations opening a new file at once
// both switch it, and SQLite answers the loser's switch with SQLITE_BUSY at once, without its busy
// handler: the switch is tried again for as long as a lock wait lasts.
int SqliteStore::use_wal() {
  for (int tries = 0;; ++tries) {
    Statement wal(db_, "PRAGMA journal_mode=WAL");
    const int code = wal.step();
    if (code == SQLITE_ROW) return wal.text(0) == "wal" ? SQLITE_ROW : SQLITE_READONLY;
    if (code != SQLITE_BUSY || !lock_wait_.still_waiting(tries)) return code;
  }
}

std::string SqliteStore::lost() const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) return "the database " + path_ + " is gone";
  if (info.st_ino != inode_ || info.st_dev != device_) return "the database " + path_ + " was replaced";
  return {};
}

// Runs `work` between BEGIN IMMEDIATE (the write lock, waited for) and COMMIT; rolled back on failure.
bool SqliteStore::in_transaction(const std::function<int()>& work, std::string& why) {
  int code = exec("BEGIN IMMEDIATE");
  if (code == SQLITE_OK) code = work();
  if (code == SQLITE_OK || code == SQLITE_DONE) code = exec("COMMIT");
  if (code == SQLITE_OK) return true;
  why = failure(db_, path_, code);
  exec("ROLLBACK");  // nothing to undo when BEGIN itself failed; its own failure adds nothing to `why`
  return false;
}

int SqliteStore::migrate() {
  Statement version(db_, "PRAGMA user_version");
  if (version.step() != SQLITE_ROW) return SQLITE_ERROR;
  const std::int64_t found = version.number(0);
  if (found > kSchemaVersion) return SQLITE_MISMATCH;
  for (std::int64_t step = found; step < kSchemaVersion; ++step) {
    int code = exec(sqlite_migrations()[static_cast<std::size_t>(step)]);
    if (code != SQLITE_OK) return code;
  }
  return exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
}

int SqliteStore::declare_pool(const PoolSpec& pool) {
  Statement upsert(db_, kDeclarePoolSql);
  upsert.bind(1, pool.name).bind(2, std::string(pool_kind_name(pool.kind)));
  upsert.bind(3, static_cast<std::int64_t>(pool.first)).bind(4, static_cast<std::int64_t>(pool.last));
  upsert.bind(5, pool.definition);
  int code = upsert.step();
  if (code != SQLITE_DONE) return code;
  Statement kind(db_, "SELECT kind FROM pools WHERE name = ?1");
  kind.bind(1, pool.name);
  if (kind.step() != SQLITE_ROW || kind.text(0) != pool_kind_name(pool.kind)) return SQLITE_CONSTRAINT;
  for (std::size_t i = 0; i < pool.values.size(); ++i) {
    Statement row(db_, "INSERT OR IGNORE INTO list_values(pool, csv_row, value) VALUES(?1, ?2, ?3)");
    row.bind(1, pool.name).bind(2, static_cast<std::int64_t>(pool.rows[i])).bind(3, pool.values[i]);
    code = row.step();
    if (code != SQLITE_DONE) return code;
  }
  return SQLITE_OK;
}

int SqliteStore::mark_unfinished(const std::string& host) {
  std::vector<std::int64_t> gone;
  {
    Statement running(db_, "SELECT id, pid FROM attempts WHERE result = 'running' AND host = ?1");
    running.bind(1, host);
    int code;
    while ((code = running.step()) == SQLITE_ROW)
      if (station_gone(static_cast<long>(running.number(1)))) gone.push_back(running.number(0));
    if (code != SQLITE_DONE) return code;
  }
  for (std::int64_t id : gone) {
    Statement mark(db_, kMarkUnfinishedSql);
    int code = mark.bind(1, id).step();
    if (code != SQLITE_DONE) return code;
  }
  return SQLITE_OK;
}

bool SqliteStore::prepare(const std::vector<PoolSpec>& pools, const std::string& host, std::string& why) {
  int failed_step = SQLITE_OK;
  std::string failed_pool;
  bool done = in_transaction(
      [&] {
        int code = failed_step = migrate();
        for (std::size_t i = 0; code == SQLITE_OK && i < pools.size(); ++i) {
          code = failed_step = declare_pool(pools[i]);
          failed_pool = pools[i].name;
        }
        return code == SQLITE_OK ? mark_unfinished(host) : code;
      },
      why);
  if (failed_step == SQLITE_MISMATCH)
    why = "the database " + path_ + " was made by a newer vexal-station (schema newer than " +
          std::to_string(kSchemaVersion) + ")";
  if (failed_step == SQLITE_CONSTRAINT)
    why = "the database " + path_ + " holds a pool " + failed_pool + " of another kind";
  return done;
}

int SqliteStore::take_value(const PoolSpec& pool, std::int64_t attempt, UnitValue& value, bool& exhausted) {
  value = UnitValue{pool.name, 0, {}};
  const bool list = pool.kind == PoolKind::List;
  Statement take(db_, list ? kTakeListValueSql : kTakeNumberSql);
  take.bind(1, pool.name);
  if (list) take.bind(2, attempt);
  int code = take.step();
  if (code == SQLITE_DONE) exhausted = true;
  if (code != SQLITE_ROW) return code;
  if (list) {
    value.text = take.text(0);
  } else {
    value.number = static_cast<std::uint64_t>(take.number(0));
  }
  while ((code = take.step()) == SQLITE_ROW) {
  }
  if (code != SQLITE_DONE) return code;
  Statement record(db_, "INSERT INTO unit_values(attempt, pool, value) VALUES(?1, ?2, ?3)");
  code = record.bind(1, attempt).bind(2, pool.name).bind(3, shown_value(pool, value)).step();
  return code == SQLITE_DONE ? SQLITE_OK : code;
}

Taken SqliteStore::take(const AttemptStart& start, const std::vector<PoolSpec>& pools) {
  Taken taken;
  std::string exhausted_pool;
  auto work = [&] {
    Statement insert(db_, kInsertAttemptSql);
    insert.bind(1, start.station).bind(2, start.operator_name).bind(3, start.host);
    insert.bind(4, static_cast<std::int64_t>(start.pid)).bind(5, start.port).bind(6, start.by_id);
    insert.bind(7, start.usb_serial).bind(8, start.job).bind(9, start.started_utc);
    int code = insert.step();
    if (code != SQLITE_DONE) return code;
    taken.attempt = sqlite3_last_insert_rowid(db_);
    for (const PoolSpec& pool : pools) {
      UnitValue value;
      bool exhausted = false;
      code = take_value(pool, taken.attempt, value, exhausted);
      if (exhausted) exhausted_pool = pool.name;
      if (code != SQLITE_OK) return exhausted ? SQLITE_ABORT : code;
      taken.values.push_back(value);
    }
    return SQLITE_OK;
  };
  if (in_transaction(work, taken.why)) {
    taken.outcome = Taken::Outcome::Taken;
  } else if (!exhausted_pool.empty()) {
    taken.outcome = Taken::Outcome::Exhausted;
    taken.why = exhausted_pool;
  }
  return taken;
}

// Not synced on its own: the end of an attempt reaches the disk with the next commit that is (the WAL is
// written in order), which saves a board one sync. A power cut before that leaves the attempt "running",
// and so "unfinished" at the next start; the values it took are on disk either way.
bool SqliteStore::record_end(const AttemptEnd& end, std::string& why) {
  int code = exec("PRAGMA synchronous=NORMAL");
  if (code == SQLITE_OK) code = record_end_statement(end);
  const int restored = exec("PRAGMA synchronous=FULL");
  if (code == SQLITE_OK) code = restored;
  if (code == SQLITE_OK) return true;
  why = failure(db_, path_, code);
  return false;
}

int SqliteStore::record_end_statement(const AttemptEnd& end) {
  Statement update(db_, kRecordEndSql);
  update.bind(1, end.ended_utc).bind(2, end.phase).bind(3, end.result).bind(4, std::int64_t{end.exit_code});
  update.bind(5, end.error).bind(6, end.reason).bind(7, end.bytes).bind(8, end.text_retries);
  update.bind(9, end.block_retries).bind(10, end.vexal_version).bind(11, end.identity).bind(12, end.files);
  update.bind(13, end.unit_file).bind(14, end.id);
  const int code = update.step();
  return code == SQLITE_DONE ? SQLITE_OK : code;
}

bool SqliteStore::history(const HistoryQuery& query, HistoryTable& out, std::string& why) {
  Statement select(db_, kHistorySql);
  if (!select.ok()) {
    why = failure(db_, path_, SQLITE_ERROR);
    return false;
  }
  select.bind(1, query.serial).bind(2, query.mac).bind(3, query.port).bind(4, query.since).bind(5, query.until);
  select.bind(6, std::int64_t{query.failed_only ? 1 : 0});
  out = HistoryTable{};
  for (int c = 0; c < select.columns(); ++c) out.columns.push_back(select.column_name(c));
  int code;
  while ((code = select.step()) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int c = 0; c < select.columns(); ++c) row.push_back(select.text(c));
    out.rows.push_back(std::move(row));
  }
  if (code == SQLITE_DONE) return true;
  why = failure(db_, path_, code);
  return false;
}

}  // namespace

std::unique_ptr<UnitStore> open_sqlite_store(const std::string& path, std::string& why) {
  auto store = std::make_unique<SqliteStore>(path);
  if (!store->open(why)) return nullptr;
  return store;
}

}  // namespace vx::station
