// The event channel (VEXAL_EVENTS) and the transfer meter that feeds it, on a fake clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "console/diag.h"
#include "console/events.h"
#include "console/transfer.h"
#include "tests/support/scripted_board.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vx {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines_of(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class Events : public testing::Test {
 protected:
  void SetUp() override {
    file_ = fs::temp_directory_path() / ("vexal-events-" + std::to_string(counter_++) + ".jsonl");
    fs::remove(file_);
    set_transfer_clock(&clock_);
    transfer_reset();
  }
  void TearDown() override {
    set_transfer_clock(nullptr);
    set_diagnostic_sink(nullptr);
    fs::remove(file_);
  }
  static inline int counter_ = 0;
  fs::path file_;
  test::FakeClock clock_;
};

TEST(ValidUtf8, WellFormedPassesOtherBytesReadAsLatin1) {
  const struct {
    const char* edge;
    std::string text, valid;
  } cases[] = {
      {"ASCII", "VQ-3140 ZARVEN v1.28", "VQ-3140 ZARVEN v1.28"},
      {"UTF-8 as it is", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"a lone Latin-1 byte", "caf\xe9", "caf\xc3\xa9"},
      {"a lead byte cut short at the end", "x\xc3", "x\xc3\x83"},
      {"a lead byte before ASCII", "\xe2(", "\xc3\xa2("},
      {"an overlong form", "\xc0\xaf", "\xc3\x80\xc2\xaf"},
      {"a surrogate", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},
      {"past U+10FFFF", "\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},
      {"0xFF", "\xff", "\xc3\xbf"},
  };
  for (const auto& c : cases) EXPECT_EQ(valid_utf8(c.text), c.valid) << c.edge;
}

TEST_F(Events, ARunInOrderWithProgressAtMostEvery100msAndAlwaysAtTheEnd) {
  {
    EventChannel events(file_.string(), clock_);
    ASSERT_TRUE(events.open());
    add_transfer_view(&events);
    events.start(RunStart{"0.95", "/dev/ttyUSB0", 1234, "2026-12-09T02:14:23Z"});
    transfer_phase(Phase::Opening);
    transfer_phase(Phase::Identity);
    transfer_identity("VQ-3140 ZARVEN v1.28 \xe9\x01");
    transfer_file_opened(FileRecord{FileRole::Command, "job.txt", 12, std::string(64, 'a')});
    transfer_file_opened(FileRecord{FileRole::Verify, "/dev/fd/3", std::nullopt, ""});
    transfer_begin(Phase::Loading, "fw \"a\".s28", 1000);
    for (int k = 0; k < 10; ++k) {
      clock_.advance(Millis(30));
      transfer_advance(100);  // every 30 ms: only every fourth one goes out, and the last
    }
    transfer_end();
    transfer_begin(Phase::Verifying, "fw.s28", 300);
    transfer_advance(300);
    transfer_end();
    transfer_retried(Retry::Text);
    transfer_retried(Retry::Block);
    transfer_retried(Retry::Block);
    remove_transfer_view(&events);
    clock_.advance(Millis(2706));  // the run: 3.006 s in all
    events.end(RunEnd{9, "Error: Verify failed at 010005: expected 78, found 00.", "why", transfer_counts(),
                      transfer_run_time(), "2026-12-09T02:14:26Z"});
  }
  EXPECT_EQ(
      lines_of(file_),
      (std::vector<std::string>{
          R"({"event":"start","version":"0.95","port":"/dev/ttyUSB0","pid":1234,"time":"2026-12-09T02:14:23Z"})",
          R"({"event":"phase","phase":"opening"})",
          R"({"event":"phase","phase":"identity"})",
          "{\"event\":\"identity\",\"id\":\"VQ-3140 ZARVEN v1.28 \xc3\xa9\\u0001\"}",
          R"({"event":"file","role":"command","path":"job.txt","size":12,"sha256":")" + std::string(64, 'a') + "\"}",
          R"({"event":"file","role":"verify","path":"/dev/fd/3"})",
          R"({"event":"phase","phase":"loading","file":"fw \"a\".s28"})",
          R"({"event":"progress","phase":"loading","done":100,"total":1000})",
          R"({"event":"progress","phase":"loading","done":500,"total":1000})",
          R"({"event":"progress","phase":"loading","done":900,"total":1000})",
          R"({"event":"progress","phase":"loading","done":1000,"total":1000})",
          R"({"event":"phase","phase":"verifying","file":"fw.s28"})",
          R"({"event":"progress","phase":"verifying","done":300,"total":300})",
          R"({"event":"end","code":9,"error":"Error: Verify failed at 010005: expected 78, found 00.","reason":"why",)"
          R"("bytes":1300,"written":1000,"read":300,"text_retries":1,"block_retries":2,"seconds":3.01,)"
          R"("time":"2026-12-09T02:14:26Z"})",
      }));
}

TEST_F(Events, ADescriptorTheCallerPassedIsWrittenAndLeftOpen) {
  const int fd = ::open(file_.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  {
    EventChannel events(std::to_string(fd), clock_);
    ASSERT_TRUE(events.open());
    events.identity("id");
  }
  EXPECT_EQ(::write(fd, "x\n", 2), 2);  // still the caller's
  EXPECT_EQ(::close(fd), 0);
  EXPECT_EQ(lines_of(file_), (std::vector<std::string>{R"({"event":"identity","id":"id"})", "x"}));
}

TEST_F(Events, AFileIsAppendedTo) {
  std::ofstream(file_) << "earlier\n";
  {
    EventChannel events(file_.string(), clock_);
    events.identity("id");
  }
  EXPECT_EQ(lines_of(file_), (std::vector<std::string>{"earlier", R"({"event":"identity","id":"id"})"}));
}

TEST_F(Events, WhatCantBeWrittenIsSaidOnceAndTheRunGoesOn) {
  std::vector<std::string> said;
  set_diagnostic_sink([&said](const std::string& line) { said.push_back(line); });
  for (const std::string& where : {(file_ / "no" / "folder").string(), std::string("987654")}) {
    said.clear();
    EventChannel events(where, clock_);
    EXPECT_FALSE(events.open()) << where;
    events.start(RunStart{"0.95", "p", 1, "t"});
    events.end(RunEnd{});
    ASSERT_EQ(said.size(), 1u) << where;
    EXPECT_EQ(said[0].rfind("can't write events to " + where + ": ", 0), 0u) << said[0];
  }
}

TEST_F(Events, AFifoWithoutAReaderIsRefusedAtOnce) {
  std::vector<std::string> said;
  set_diagnostic_sink([&said](const std::string& line) { said.push_back(line); });
  ASSERT_EQ(::mkfifo(file_.string().c_str(), 0600), 0);
  EventChannel events(file_.string(), clock_);  // would wait for a reader forever if opened blocking
  EXPECT_FALSE(events.open());
  EXPECT_EQ(said, (std::vector<std::string>{"can't write events to " + file_.string() + ": a FIFO that no one reads"}));
}

TEST_F(Events, NoVariableNoChannelNoWord) {
  std::vector<std::string> said;
  set_diagnostic_sink([&said](const std::string& line) { said.push_back(line); });
  EventChannel events("", clock_);
  EXPECT_FALSE(events.open());
  EXPECT_TRUE(said.empty());
}

// The meter: percent, rate and time left; nested transfers; the run's total.
struct Recorder : TransferView {
  std::vector<std::string> seen;
  void phase_started(Phase p, const std::string& file) override {
    seen.push_back(std::string(phase_name(p)) + " " + file);
  }
  void progress(const TransferProgress& p) override {
    std::ostringstream s;
    s << p.file << " " << p.done << "/" << p.total << " " << p.percent() << "% " << p.bytes_per_second() << " B/s";
    if (p.left()) s << " " << p.left()->count() / 1000 << " ms left";
    seen.push_back(s.str());
  }
  void transfer_ended() override { seen.push_back("ended"); }
};

TEST_F(Events, TheMeterMeasuresTheInnermostTransferAndResumesTheOuter) {
  Recorder r;
  add_transfer_view(&r);
  transfer_begin(Phase::Loading, "job.txt", 0);
  transfer_begin(Phase::Loading, "fw.s28", 4000);
  clock_.advance(Millis(500));
  transfer_advance(1000);
  transfer_begin(Phase::Verifying, "fw.s28", 2000);
  clock_.advance(Millis(1000));
  transfer_advance(0);     // nothing moved: nothing said
  transfer_advance(2500);  // past the total: shown full
  transfer_end();
  transfer_end();
  transfer_end();
  transfer_end();  // one too many: harmless
  remove_transfer_view(&r);
  EXPECT_EQ(r.seen,
            (std::vector<std::string>{"loading job.txt", "loading fw.s28", "fw.s28 1000/4000 25% 2000 B/s 1500 ms left",
                                      "verifying fw.s28", "fw.s28 2500/2000 100% 2500 B/s 0 ms left", "ended",
                                      "fw.s28 1000/4000 25% 666.667 B/s 4500 ms left", "ended", "ended"}));
  EXPECT_EQ(transfer_counts().written, 1000);  // loading
  EXPECT_EQ(transfer_counts().read, 2500);     // verifying
}

TEST(TransferProgress, UnknownUntilTimeHasPassed) {
  TransferProgress p;
  p.total = 100;
  EXPECT_EQ(p.bytes_per_second(), 0);
  EXPECT_FALSE(p.left());
  EXPECT_EQ(p.percent(), 0);
  p.total = 0;
  p.done = 5;
  EXPECT_EQ(p.percent(), 0);  // nothing to measure against
}

}  // namespace
}  // namespace vx
