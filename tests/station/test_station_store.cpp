// The SQLite store through SQLite itself, on a scratch file: values taken in order and never twice, two
// connections on one file, exhausted pools, gone stations' attempts, the schema's version, the history.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "frontends/station/os/store.h"

namespace vx::station {
namespace {

class StationStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/vexal-store-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    folder_ = folder;
    path_ = folder_ + "/units.db";
    std::string why;
    ASSERT_TRUE(parse_counter("1000-1004", serial_, why)) << why;
    ASSERT_TRUE(parse_list("key\nK1\nK2\nK3\n", "keys.csv", "key", key_, why)) << why;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::unique_ptr<UnitStore> opened(const std::vector<PoolSpec>& pools) {
    std::string why;
    std::unique_ptr<UnitStore> store = open_store(path_, why);
    EXPECT_TRUE(store) << why;
    if (store) {
      EXPECT_TRUE(store->prepare(pools, "bench-host", why)) << why;
    }
    return store;
  }
  AttemptStart start(const std::string& port) const {
    return AttemptStart{"line 3", "ann", "bench-host", static_cast<long>(::getpid()), port, "", "", "job", "2026"};
  }
  void sql(const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  std::string folder_, path_;
  PoolSpec serial_, key_;
};

TEST_F(StationStore, ValuesInOrderThenTheListRunsOut) {
  auto store = opened({serial_, key_});
  const struct {
    Taken::Outcome outcome;
    std::uint64_t serial;
    const char* key;
  } expected[] = {{Taken::Outcome::Taken, 1000, "K1"},
                  {Taken::Outcome::Taken, 1001, "K2"},
                  {Taken::Outcome::Taken, 1002, "K3"},
                  {Taken::Outcome::Exhausted, 0, ""}};
  for (const auto& e : expected) {
    Taken taken = store->take(start("b1"), {serial_, key_});
    ASSERT_EQ(taken.outcome, e.outcome) << taken.why;
    if (e.outcome == Taken::Outcome::Exhausted) {
      EXPECT_EQ(taken.why, "key");
      continue;
    }
    EXPECT_EQ(taken.values, (UnitValues{{"serial", e.serial, ""}, {"key", 0, e.key}}));
  }
  // The exhausted attempt took nothing: its serial went back with its rolled-back transaction.
  HistoryTable table;
  std::string why;
  ASSERT_TRUE(store->history({}, table, why)) << why;
  EXPECT_EQ(table.rows.size(), 3u);
}

TEST_F(StationStore, TwoConnectionsOnOneFileNeverShareAValue) {
  auto first = opened({serial_});
  auto second = opened({serial_});
  std::set<std::uint64_t> given;
  for (int i = 0; i < 5; ++i) {
    Taken taken = (i % 2 ? second : first)->take(start("b1"), {serial_});
    ASSERT_EQ(taken.outcome, Taken::Outcome::Taken) << taken.why;
    EXPECT_TRUE(given.insert(taken.values[0].number).second) << taken.values[0].number;
  }
  EXPECT_EQ(given, (std::set<std::uint64_t>{1000, 1001, 1002, 1003, 1004}));
  EXPECT_EQ(first->take(start("b1"), {serial_}).outcome, Taken::Outcome::Exhausted);
}

// A station that commits board after board keeps the write lock nearly all the time (on a slow disk,
// for longer than kBusyWait in all): the other station waits its turn instead of giving up, because the
// lock is in use, not stuck.
TEST_F(StationStore, AWaitGoesOnWhileTheOtherSideCommits) {
  auto waiting = opened({serial_});
  sql("CREATE TABLE busy_work(n INTEGER)");
  const auto hog_for = kBusyWait + std::chrono::milliseconds(1500);
  std::promise<void> locked;
  std::thread hog([&] {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    const auto until = std::chrono::steady_clock::now() + hog_for;
    bool first_held = false;
    while (std::chrono::steady_clock::now() < until) {
      ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO busy_work VALUES(1)", nullptr, nullptr, nullptr),
                SQLITE_OK);
      if (!first_held) locked.set_value();
      first_held = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the lock held, as for a slow commit
      ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
  });
  locked.get_future().wait();  // the other side holds the lock first
  Taken taken = waiting->take(start("b1"), {serial_});
  hog.join();
  EXPECT_EQ(taken.outcome, Taken::Outcome::Taken) << taken.why;
}

// Two stations started together on a new file both make it a WAL database; neither is refused for it.
TEST_F(StationStore, TwoStationsOpeningANewFileAtOnce) {
  constexpr int kRounds = 40;
  for (int round = 0; round < kRounds; ++round) {
    const std::string path = folder_ + "/new" + std::to_string(round) + ".db";
    std::string why_a, why_b;
    std::unique_ptr<UnitStore> a, b;
    std::thread other([&] { b = open_store(path, why_b); });
    a = open_store(path, why_a);
    other.join();
    ASSERT_TRUE(a) << "round " << round << ": " << why_a;
    ASSERT_TRUE(b) << "round " << round << ": " << why_b;
  }
}

TEST_F(StationStore, ADeclarationAgainNeverMovesTheCounterBack) {
  opened({serial_})->take(start("b1"), {serial_});
  PoolSpec wider;
  std::string why;
  ASSERT_TRUE(parse_counter("900-2000", wider, why));
  auto store = opened({wider});
  Taken taken = store->take(start("b1"), {wider});
  ASSERT_EQ(taken.outcome, Taken::Outcome::Taken) << taken.why;
  EXPECT_EQ(taken.values[0].number, 1001u);
  PoolSpec list_named_serial = key_;
  list_named_serial.name = "serial";
  auto again = open_store(path_, why);
  EXPECT_FALSE(again->prepare({list_named_serial}, "bench-host", why));
  EXPECT_EQ(why, "the database " + path_ + " holds a pool serial of another kind");
}

TEST_F(StationStore, AGoneStationsAttemptsAreUnfinished) {
  auto store = opened({serial_});
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  AttemptStart gone = start("b1");
  gone.pid = child;
  ASSERT_EQ(store->take(gone, {serial_}).outcome, Taken::Outcome::Taken);
  const pid_t alive = ::fork();
  if (alive == 0) {
    ::pause();
    ::_exit(0);
  }
  AttemptStart running = start("b2");
  running.pid = alive;
  ASSERT_EQ(store->take(running, {serial_}).outcome, Taken::Outcome::Taken);
  std::string why;
  auto reopened = open_store(path_, why);
  ASSERT_TRUE(reopened->prepare({serial_}, "other-host", why));  // another host's: can't be judged here
  HistoryTable table;
  ASSERT_TRUE(reopened->history({}, table, why));
  const std::size_t result =
      static_cast<std::size_t>(std::find(table.columns.begin(), table.columns.end(), "result") - table.columns.begin());
  EXPECT_EQ(table.rows[0][result], "running");
  ASSERT_TRUE(reopened->prepare({serial_}, "bench-host", why));
  ASSERT_TRUE(reopened->history({}, table, why));
  EXPECT_EQ(table.rows[0][result], "unfinished");
  EXPECT_EQ(table.rows[1][result], "running");
  ::kill(alive, SIGKILL);
  ::waitpid(alive, nullptr, 0);
}

TEST_F(StationStore, TheHistoryFilters) {
  auto store = opened({serial_});
  for (const char* port : {"b1", "b2", "b3"}) {
    Taken taken = store->take(start(port), {serial_});
    AttemptEnd end;
    end.id = taken.attempt;
    end.result = std::string(port) == "b2" ? "failed" : "passed";
    std::string why;
    ASSERT_TRUE(store->record_end(end, why)) << why;
  }
  const struct {
    HistoryQuery query;
    std::vector<std::string> serials;
  } cases[] = {
      {{}, {"1000", "1001", "1002"}},
      {{"1001", "", "", "", "", false}, {"1001"}},
      {{"", "", "b3", "", "", false}, {"1002"}},
      {{"", "", "", "", "", true}, {"1001"}},
      {{"", "", "", "2027", "", false}, {}},
      {{"", "", "", "", "2027", false}, {"1000", "1001", "1002"}},
  };
  for (const auto& c : cases) {
    HistoryTable table;
    std::string why;
    ASSERT_TRUE(store->history(c.query, table, why)) << why;
    const std::size_t serial = static_cast<std::size_t>(
        std::find(table.columns.begin(), table.columns.end(), "serial") - table.columns.begin());
    std::vector<std::string> serials;
    for (const auto& row : table.rows) serials.push_back(row[serial]);
    EXPECT_EQ(serials, c.serials);
  }
}

TEST_F(StationStore, ANewerSchemaIsRefused) {
  opened({serial_});
  sql("PRAGMA user_version=99");
  std::string why;
  auto store = open_store(path_, why);
  ASSERT_TRUE(store) << why;
  EXPECT_FALSE(store->prepare({serial_}, "bench-host", why));
  EXPECT_EQ(why, "the database " + path_ + " was made by a newer vexal-station (schema newer than 1)");
}

TEST_F(StationStore, ADatabaseThatCantBeMadeOrWritten) {
  std::string why;
  EXPECT_FALSE(open_store(folder_ + "/no/such/folder/units.db", why));
  EXPECT_EQ(why, "can't open the database " + folder_ + "/no/such/folder/units.db: No such file or directory");
  auto store = opened({serial_});
  std::filesystem::remove(path_);
  EXPECT_EQ(store->lost(), "the database " + path_ + " is gone");
}

TEST(StationStoreText, CsvQuotesWhatNeedsIt) {
  const HistoryTable table{{"serial", "error"}, {{"1000", "Error: a, b"}, {"1001", "say \"no\""}}};
  EXPECT_EQ(history_csv(table), "serial,error\r\n1000,\"Error: a, b\"\r\n1001,\"say \"\"no\"\"\"\r\n");
}

}  // namespace
}  // namespace vx::station
