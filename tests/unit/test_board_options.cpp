// The simulator's command line, the fault rules and the memory image files.
#include <gtest/gtest.h>

#include "board/options.h"
#include "tests/support/scripted_board.h"

namespace vx::board {
namespace {

struct Refused {
  std::vector<std::string> args;
  const char* reason_holds;
};

TEST(Options, Refused) {
  const Refused cases[] = {
      {{"--bogus"}, "unknown option"},
      {{"--baud"}, "needs a value"},
      {{"--baud", "0"}, "--baud"},
      {{"--parity", "mark"}, "none, odd or even"},
      {{"--answer", "NOEQUALS"}, "TEXT=ANSWER"},
      {{"--answer", "X=" + std::string(247, 'a')}, "longer than an answer frame"},
      {{"--identity", std::string(247, 'a')}, "--identity is longer than an answer frame holds (246 characters)"},
      {{"--load", "image.bin"}, "FILE@ADDR"},
      {{"--load", "image.bin@1000000"}, "FILE@ADDR"},
      {{"--dump", "out.bin@FFFFFF,2"}, "inside the 16 MiB"},
      {{"--dump", "out.bin@100"}, "FILE@ADDR,LEN"},
      {{"--fault", "explode:every=1"}, "unknown fault"},
      {{"--old-bios=yes"}, "takes no value"},
  };
  for (const auto& c : cases) {
    Options o;
    std::string why;
    EXPECT_FALSE(parse_options(c.args, o, why)) << c.args[0];
    EXPECT_NE(why.find(c.reason_holds), std::string::npos) << c.args[0] << ": " << why;
  }
}

TEST(Options, AllTogether) {
  Options o;
  std::string why;
  ASSERT_TRUE(parse_options({"--link",   "/tmp/vq",      "--baud=9600", "--parity",
                             "even",     "--think",      "5",           "--identity",
                             "VQ test",  "--old-bios",   "--answer",    "PING=PONG",
                             "--answer", "A=B=C",        "--load",      "a.bin@0x012300",
                             "--load",   "b@FF",         "--dump",      "out.bin@012300,100",
                             "--fault",  "late:every=3", "--fault",     "silent:after=9",
                             "--seed",   "77",           "--log",       "-"},
                            o, why))
      << why;
  EXPECT_EQ(o.link, "/tmp/vq");
  EXPECT_EQ(o.baud, 9600u);
  EXPECT_EQ(o.parity, Parity::Even);
  EXPECT_EQ(o.think, Millis(5));
  EXPECT_EQ(o.board.identity, "VQ test");
  EXPECT_TRUE(o.board.old_bios);
  EXPECT_EQ(o.board.answers.at("PING"), "PONG");
  EXPECT_EQ(o.board.answers.at("A"), "B=C");  // the first '=' separates
  ASSERT_EQ(o.loads.size(), 2u);
  EXPECT_EQ(o.loads[0].address, 0x012300u);
  EXPECT_EQ(o.loads[1].file, "b");
  EXPECT_EQ(o.loads[1].address, 0xFFu);
  ASSERT_TRUE(o.dump);
  EXPECT_EQ(o.dump->range.address, 0x012300u);
  EXPECT_EQ(o.dump->range.length, 0x100u);
  EXPECT_EQ(o.faults.size(), 2u);
  EXPECT_EQ(o.seed, 77u);
  EXPECT_EQ(o.log, "-");
}

TEST(Options, Defaults) {
  Options o;
  std::string why;
  ASSERT_TRUE(parse_options({"--dump", "all.bin"}, o, why));
  EXPECT_EQ(o.baud, 0u);
  EXPECT_EQ(o.seed, 1u);
  EXPECT_EQ(o.dump->range.address, 0u);
  EXPECT_EQ(o.dump->range.length, kMemorySize);
}

struct FaultCase {
  const char* rule_text;
  bool ok;
  FaultKind kind;
  unsigned every;
  double rate;
  long delay_ms;
};

TEST(FaultRules, Table) {
  const FaultCase cases[] = {
      {"drop:every=5", true, FaultKind::Drop, 5, 0, 0},
      {"late:rate=0.25", true, FaultKind::Late, 0, 0.25, 400},
      {"late:every=1,delay=700", true, FaultKind::Late, 1, 0, 700},
      {"split:every=2,pause=20", true, FaultKind::Split, 2, 0, 20},
      {"bad-checksum:rate=1", true, FaultKind::BadChecksum, 0, 1, 0},
      {"noise:every=4,bytes=8", true, FaultKind::Noise, 4, 0, 0},
      {"silent:after=0", true, FaultKind::Silent, 0, 0, 0},
      {"echo:every=1", true, FaultKind::Echo, 1, 0, 0},
      {"twice:every=1", true, FaultKind::Twice, 1, 0, 3},
      {"twice:rate=0.5,delay=8", true, FaultKind::Twice, 0, 0.5, 8},
      {"ragged:every=3", true, FaultKind::Ragged, 3, 0, 0},
      {"garbage:every=1", true, FaultKind::Garbage, 1, 0, 0},
      {"garbage:rate=1,bytes=4096", true, FaultKind::Garbage, 0, 1, 0},
      {"drop", false, FaultKind::Drop, 0, 0, 0},                   // needs every or rate
      {"drop:every=2,rate=0.5", false, FaultKind::Drop, 0, 0, 0},  // not both
      {"drop:every=0", false, FaultKind::Drop, 0, 0, 0},
      {"drop:rate=1.5", false, FaultKind::Drop, 0, 0, 0},
      {"drop:delay=5,every=1", false, FaultKind::Drop, 0, 0, 0},  // delay is late's
      {"silent", false, FaultKind::Silent, 0, 0, 0},
      {"noise:every=1,bytes=1", false, FaultKind::Noise, 0, 0, 0},
      {"late:every=1,delay=0", false, FaultKind::Late, 0, 0, 0},
      {"garbage:every=1,bytes=0", false, FaultKind::Garbage, 0, 0, 0},
  };
  for (const auto& c : cases) {
    FaultRule r;
    std::string why;
    ASSERT_EQ(parse_fault(c.rule_text, r, why), c.ok) << c.rule_text << ": " << why;
    if (!c.ok) {
      EXPECT_FALSE(why.empty()) << c.rule_text;
      continue;
    }
    EXPECT_EQ(r.kind, c.kind) << c.rule_text;
    EXPECT_EQ(r.every, c.every) << c.rule_text;
    EXPECT_DOUBLE_EQ(r.rate, c.rate) << c.rule_text;
    if (c.delay_ms) {
      EXPECT_EQ(r.delay, Millis(c.delay_ms)) << c.rule_text;
    }
  }
}

// Each key refused for its own reason, a key of another kind by name.
TEST(FaultRules, ReasonsForBadKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"drop:every=x", "every needs a whole number of 1 or more"},
      {"drop:rate=-0.1", "rate needs a number from 0 to 1"},
      {"silent:after=", "after needs a whole number"},
      {"late:delay=0", "delay needs a number of milliseconds, 1 or more"},
      {"split:pause=x", "pause needs a number of milliseconds, 1 or more"},
      {"noise:bytes=65", "bytes needs a number from 2 to 64"},
      {"garbage:bytes=4097", "bytes needs a number from 1 to 4096"},
      {"silent:every=1", "'every' does not apply to silent"},
      {"refuse:after=3", "'after' does not apply to refuse"},
      {"split:delay=5", "'delay' does not apply to split"},
      {"ragged:delay=5", "'delay' does not apply to ragged"},
      {"late:bytes=4", "'bytes' does not apply to late"},
      {"drop:colour=red", "'colour' does not apply to drop"},
  };
  for (const auto& [rule_text, reason] : cases) {
    FaultRule r;
    std::string why;
    EXPECT_FALSE(parse_fault(rule_text, r, why)) << rule_text;
    EXPECT_EQ(why, reason) << rule_text;
  }
}

// The --help shows how a fault is triggered, one line for each way.
TEST(Options, UsageShowsTheFaultTriggers) {
  const std::string usage = usage_text();
  for (const char* line :
       {"\n  --fault KIND:every=N   KIND drop, late, split, bad-end, bad-checksum, noise, refuse, echo, twice, "
        "ragged\n"
        "                         or garbage, every Nth telegram\n"
        "  --fault KIND:rate=P    ... at random with probability P\n"
        "  --fault silent:after=N answer N telegrams, then nothing\n"
        "  --seed S ",
        "delay=", "pause=", "bytes="}) {
    const bool shown = usage.find(line) != std::string::npos;
    EXPECT_EQ(shown, line[0] == '\n') << line;
  }
}

TEST(MemoryImage, LoadAtTheEndFitsOneBeyondDoesNot) {
  test::TempDir dir;
  dir.write("three.bin", "abc");
  Memory m;
  std::string why;
  EXPECT_TRUE(load_image(m, "three.bin", 0xFFFFFD, why)) << why;
  Bytes got;
  m.read(0xFFFFFC, 4, got);
  EXPECT_EQ(test::text_of(got),
            "\xFF"
            "abc");
  EXPECT_FALSE(load_image(m, "three.bin", 0xFFFFFE, why));
  EXPECT_NE(why.find("does not fit"), std::string::npos);
  EXPECT_FALSE(load_image(m, "missing.bin", 0, why));
}

TEST(MemoryImage, DumpOfARangeAndOfTheWholeMemory) {
  test::TempDir dir;
  Memory m;
  m.write(0x012300, Bytes{1, 2, 3});
  std::string why;
  ASSERT_TRUE(dump_image(m, "part.bin", Range{0x0122FF, 5}, why)) << why;
  EXPECT_EQ(dir.read("part.bin"), std::string("\xFF\x01\x02\x03\xFF", 5));
  ASSERT_TRUE(dump_image(m, "all.bin", Range{}, why)) << why;
  std::string all = dir.read("all.bin");
  ASSERT_EQ(all.size(), kMemorySize);
  EXPECT_EQ(all.substr(0x012300, 3), "\x01\x02\x03");
  EXPECT_FALSE(dir.exists("all.bin.partial"));
  EXPECT_FALSE(dump_image(m, "no/such/dir/x.bin", Range{}, why));
}

}  // namespace
}  // namespace vx::board
