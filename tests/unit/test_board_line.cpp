// The board on its line, on a fake clock: the frame receiver, the session's answers and their timing,
// the transmitter's pacing and every fault. Times are microseconds since the session began.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "board/session.h"
#include "protocol/frame.h"
#include "serial/trace.h"
#include "tests/support/scripted_board.h"

namespace vx::board {
namespace {

using std::chrono::milliseconds;
using test::hex_bytes;

const Bytes kIdentityRequest = hex_bytes("68 0C 0C 68 7F 7F 47 F5 49 30 30 30 30 30 30 0A AD 16");

struct Sent {
  Micros due;
  Bytes bytes;
};

struct Rig {
  explicit Rig(LineModel model = {}, std::vector<FaultRule> faults = {}, std::uint64_t seed = 1)
      : board(Settings{}),
        session(board, FaultPlan(std::move(faults), seed), model,
                Log([this](const std::string& line) { log.push_back(line); })) {}

  void receive(Micros at, const Bytes& b) { session.receive(at, b.data(), b.size()); }

  // Everything the transmitter sends, write by write, in line order.
  std::vector<Sent> drain() {
    std::vector<Sent> out;
    while (auto due = session.transmitter().next_due())
      for (auto& w : session.transmitter().take_due(*due)) out.push_back(Sent{w.due, w.bytes});
    return out;
  }
  Bytes line() {
    Bytes all;
    for (auto& s : drain()) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    return all;
  }
  bool logged(const std::string& part) const {
    for (auto& l : log)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  std::vector<std::string> log;
  Board board;
  Session session;
};

Bytes answer(std::string_view text) { return ft12::text_answer(text); }
Bytes request(std::string_view text) { return ft12::text_request(text); }

// --- the frame receiver ---------------------------------------------------------------------------

struct FeedCase {
  const char* name;
  Bytes input;
  std::size_t frames;
  std::size_t rejected_bytes;
};

TEST(FrameReceiver, Table) {
  Bytes bad_sum = kIdentityRequest;
  bad_sum[16] ^= 1;
  Bytes bad_end = kIdentityRequest;
  bad_end[17] = 0x17;
  Bytes l_differ = kIdentityRequest;
  l_differ[2] = 0x0D;
  Bytes two = kIdentityRequest;
  two.insert(two.end(), kIdentityRequest.begin(), kIdentityRequest.end());
  Bytes garbage_first = hex_bytes("00 FF 16 41");
  garbage_first.insert(garbage_first.end(), kIdentityRequest.begin(), kIdentityRequest.end());
  const FeedCase cases[] = {
      {"whole frame", kIdentityRequest, 1, 0},
      {"empty user data (L=2)", hex_bytes("68 02 02 68 7F 7F FE 16"), 1, 0},
      {"two frames back to back", two, 2, 0},
      {"garbage, then a frame", garbage_first, 1, 4},
      {"wrong checksum", bad_sum, 0, 18},
      {"wrong end byte", bad_end, 0, 18},
      {"both L differ", l_differ, 0, 18},
      {"L below 2", hex_bytes("68 01 01 68 7F 7F 16"), 0, 7},
      {"start byte alone stays pending", hex_bytes("68"), 0, 0},
  };
  for (const auto& c : cases) {
    ft12::Receiver rx;
    std::size_t frames = 0, rejected = 0;
    for (auto& e : rx.feed(c.input.data(), c.input.size())) {
      if (e.kind == ft12::Receiver::Event::Kind::Frame)
        ++frames;
      else
        rejected += e.bytes.size();
    }
    EXPECT_EQ(frames, c.frames) << c.name;
    EXPECT_EQ(rejected, c.rejected_bytes) << c.name;
  }
}

TEST(FrameReceiver, ByteByByteGivesTheSameFrame) {
  ft12::Receiver rx;
  std::vector<ft12::Receiver::Event> events;
  for (std::uint8_t b : kIdentityRequest)
    for (auto& e : rx.feed(&b, 1)) events.push_back(e);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].bytes, kIdentityRequest);
  EXPECT_TRUE(rx.idle());
}

// --- requests and answers -------------------------------------------------------------------------

TEST(Session, AnswersTheIdentityQueryAtOnce) {
  Rig rig;
  rig.receive(Micros{500}, kIdentityRequest);
  auto sent = rig.drain();
  ASSERT_EQ(sent.size(), 1u);  // one write: no pause inside the answer
  EXPECT_EQ(sent[0].due, Micros{500});
  EXPECT_EQ(sent[0].bytes, answer("VQ-3140 ZARVEN v1.28"));
  EXPECT_EQ(sent[0].bytes[4], ft12::kAnswerControl);
}

TEST(Session, FramesNotForTheBoardGetNoAnswer) {
  Bytes wrong_control = ft12::make_frame(hex_bytes("47 F5 49").data(), 3, 0x7E);
  Bytes wrong_address = ft12::make_frame(hex_bytes("47 F5 49").data(), 3, ft12::kControl, 0x01);
  Bytes wrong_tag = ft12::make_frame(hex_bytes("48 F5 49").data(), 3);
  Bytes no_tag = hex_bytes("68 02 02 68 7F 7F FE 16");
  Bytes user(253, 'x');  // L = 255: a frame of 261 bytes, beyond the board's buffer
  user[0] = ft12::kUserTag0;
  user[1] = ft12::kUserTag1;
  Bytes too_long = ft12::make_frame(user.data(), user.size());
  for (const Bytes& frame : {wrong_control, wrong_address, wrong_tag, no_tag, too_long}) {
    Rig rig;
    rig.receive(Micros{0}, frame);
    EXPECT_TRUE(rig.drain().empty()) << test::hex_string(frame);
    EXPECT_EQ(rig.session.counts().telegrams, 0u);
  }
}

TEST(Session, GarbageNeverCrashesAndTheNextRequestIsAnswered) {
  std::mt19937 random(7);
  Rig rig;
  Micros t{0};
  for (int round = 0; round < 200; ++round) {
    Bytes garbage(random() % 600);
    for (auto& b : garbage) b = static_cast<std::uint8_t>(random() % 4 ? random() : ft12::kStart);
    for (std::size_t at = 0; at < garbage.size();) {
      std::size_t n = std::min<std::size_t>(garbage.size() - at, 1 + random() % 300);
      rig.session.receive(t, garbage.data() + at, n);
      at += n;
    }
    rig.drain();  // garbage may even hold a valid frame by chance; what matters is what follows
    t += kFrameIdle + Micros{1};
    rig.receive(t, request("R000000,01\n"));
    ASSERT_EQ(rig.line(), answer("=FF")) << "round " << round;
  }
}

TEST(Session, UnfinishedFrameIsDroppedAfterTheLineWasIdle) {
  Rig rig;
  rig.receive(Micros{0}, Bytes(kIdentityRequest.begin(), kIdentityRequest.begin() + 9));
  rig.receive(kFrameIdle + Micros{1}, kIdentityRequest);
  EXPECT_EQ(rig.line(), answer("VQ-3140 ZARVEN v1.28"));
  EXPECT_TRUE(rig.logged("unfinished frame"));
}

TEST(Session, LogShowsRequestAnswerAndRejects) {
  Rig rig;
  rig.receive(Micros{1500}, hex_bytes("41 42"));
  rig.receive(Micros{2000}, request("W000010<AB\n"));
  rig.drain();
  ASSERT_EQ(rig.log.size(), 2u);
  EXPECT_EQ(rig.log[0], "     1.500 rej   41 42  | not a start byte");
  EXPECT_NE(rig.log[1].find("     2.000 in    68 0F 0F 68"), std::string::npos);
  EXPECT_NE(rig.log[1].find("\"W000010<AB\\n\" wrote 1 bytes at 000010 -> \"*\""), std::string::npos);
}

// The bytes and the note of a log or trace line: "<ms> <dir> <bytes>[  | <note>]".
struct Columns {
  std::string bytes;
  std::string note;
};

Columns columns(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  std::istringstream in(line);
  std::string time, direction, rest;
  in >> time >> direction;
  std::getline(in, rest);
  const std::size_t bar = rest.find("  | ");
  Columns c{rest.substr(0, bar), bar == std::string::npos ? "" : rest.substr(bar + 4)};
  c.bytes.erase(0, c.bytes.find_first_not_of(' '));
  return c;
}

struct SideBySideCase {
  const char* edge;
  Bytes request;
  const char* trace_note;  // what the loader's trace shows of the request
  const char* log_note;    // what the board's log shows of it, with what it did and answered
};

// A request as the loader's trace writes it (tx) and as the board logs it (in): the same bytes, and the
// same text where there is one, so the two files can be read side by side.
TEST(Session, LogLinesLaySideBySideWithTheLoadersTrace) {
  const SideBySideCase cases[] = {
      {"text request", request("I000000\n"), "\"I000000\\n\"", "\"I000000\\n\" identity -> \"VQ-3140 ZARVEN v1.28\""},
      {"a text that is not printable", request("R\x01\n"), "", "read refused -> \"?syntax\""},
      {"a block", ft12::make_frame(hex_bytes("47 F5 73 45 23 01 03 11 22 33 27 84").data(), 12), "",
       "block 's' wrote 3 bytes at 012345 -> \"*\""},
  };
  for (const auto& c : cases) {
    Rig rig;
    rig.receive(Micros{0}, c.request);
    rig.drain();
    ASSERT_GE(rig.log.size(), 1u) << c.edge;
    const Columns logged = columns(rig.log[0]);
    const Columns traced = columns(trace_line(Micros{0}, "tx", c.request.data(), c.request.size(),
                                              frame_text(c.request.data(), c.request.size())));
    EXPECT_EQ(logged.bytes, traced.bytes) << c.edge;
    EXPECT_EQ(traced.note, c.trace_note) << c.edge;
    EXPECT_EQ(logged.note, c.log_note) << c.edge;
  }
}

TEST(Session, AnswerLineLaysBesideTheTracesReceivedLine) {
  Rig rig;
  rig.receive(Micros{0}, kIdentityRequest);
  const std::vector<Sent> sent = rig.drain();  // the program logs each write as an "out" line
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(rig.log.size(), 1u);
  const Bytes answered = answer("VQ-3140 ZARVEN v1.28");
  const Columns traced = columns(
      trace_line(Micros{0}, "rx", answered.data(), answered.size(), frame_text(answered.data(), answered.size())));
  EXPECT_EQ(columns(format_log_line(sent[0].due, "out", sent[0].bytes, "")).bytes, traced.bytes);
  EXPECT_EQ(traced.note, "\"VQ-3140 ZARVEN v1.28\"");
  EXPECT_TRUE(columns(rig.log[0]).note.ends_with(" -> " + traced.note)) << rig.log[0];
}

// --- the line model -------------------------------------------------------------------------------

TEST(LineModel, ByteTimes) {
  EXPECT_EQ((LineModel{}.byte_time()), Micros{0});
  EXPECT_EQ((LineModel{9600, kBitsPerByte}.byte_time()), Micros{1042});
  EXPECT_EQ((LineModel{9600, kBitsPerByteWithParity}.byte_time()), Micros{1146});
  EXPECT_EQ((LineModel{115200, kBitsPerByte}.byte_time()), Micros{87});
}

TEST(Session, PacedAnswerWaitsForTheRequestsLineTimeAndKeepsTheByteRate) {
  LineModel m{9600, kBitsPerByte};
  Rig rig(m);
  rig.receive(Micros{0}, kIdentityRequest);
  auto sent = rig.drain();
  const Micros bt = m.byte_time();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front().due, bt * 18);  // the 18 request bytes' own time on the wire
  Bytes all;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].due, bt * static_cast<long>(18 + all.size())) << i;
    if (i) {
      EXPECT_LT(sent[i].due - sent[i - 1].due, milliseconds(15));
    }
    all.insert(all.end(), sent[i].bytes.begin(), sent[i].bytes.end());
  }
  EXPECT_EQ(all, answer("VQ-3140 ZARVEN v1.28"));
}

TEST(Session, ThinkTimeDelaysTheAnswer) {
  LineModel m;
  m.think = milliseconds(50);
  Rig rig(m);
  rig.receive(Micros{1000}, kIdentityRequest);
  auto sent = rig.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].due, Micros{51000});
}

TEST(Transmitter, EmissionsNeverInterleave) {
  Transmitter tx(Micros{1000});
  tx.send(Emission{Micros{0}, {Part{Micros{0}, Bytes(10, 1), "out", ""}}});
  tx.send(Emission{Micros{2000}, {Part{Micros{0}, Bytes(3, 2), "out", ""}}});
  std::vector<Sent> sent;
  while (auto due = tx.next_due())
    for (auto& w : tx.take_due(*due)) sent.push_back(Sent{w.due, w.bytes});
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().due, Micros{10000} + Micros{1000} * 2);  // after the ten bytes of the first
  Bytes all;
  for (auto& s : sent) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
  EXPECT_EQ(all, Bytes({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2}));
}

TEST(Transmitter, EarlierEmissionGoesFirstUnlessTheLineIsBusy) {
  Transmitter tx;
  tx.send(Emission{Micros{400000}, {Part{Micros{0}, Bytes{1}, "out", ""}}});
  tx.send(Emission{Micros{10000}, {Part{Micros{0}, Bytes{2}, "out", ""}}});
  auto first = tx.take_due(Micros{10000});
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].bytes, Bytes{2});
  EXPECT_EQ(tx.next_due(), Micros{400000});
}

// --- faults ---------------------------------------------------------------------------------------

FaultRule rule(const char* rule_text) {
  FaultRule r;
  std::string why;
  EXPECT_TRUE(parse_fault(rule_text, r, why)) << rule_text << ": " << why;
  return r;
}

TEST(Faults, DropEverySecondTelegramStillCarriesItOut) {
  Rig rig({}, {rule("drop:every=2")});
  rig.receive(Micros{0}, request("W000000<01\n"));
  EXPECT_EQ(rig.line(), answer("*"));
  rig.receive(Micros{1000}, request("W000001<02\n"));
  EXPECT_TRUE(rig.line().empty());
  EXPECT_TRUE(rig.logged("drop "));
  rig.receive(Micros{2000}, request("R000000,02\n"));
  EXPECT_EQ(rig.line(), answer("=0102"));
}

TEST(Faults, LateAnswerComesAfterTheReadWindow) {
  Rig rig({}, {rule("late:every=1")});
  rig.receive(Micros{0}, kIdentityRequest);
  auto sent = rig.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].due, kDefaultLateBy);
  EXPECT_GT(sent[0].due, milliseconds(306));
}

TEST(Faults, SplitAnswerPausesInsideTheFrame) {
  Rig rig({}, {rule("split:every=1,pause=30")});
  rig.receive(Micros{0}, kIdentityRequest);
  auto sent = rig.drain();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].due - sent[0].due, milliseconds(30));
  Bytes all = sent[0].bytes;
  all.insert(all.end(), sent[1].bytes.begin(), sent[1].bytes.end());
  EXPECT_EQ(all, answer("VQ-3140 ZARVEN v1.28"));
}

TEST(Faults, DamagedEndAndChecksum) {
  Bytes good = answer("VQ-3140 ZARVEN v1.28");
  Rig end({}, {rule("bad-end:every=1")});
  end.receive(Micros{0}, kIdentityRequest);
  Bytes e = end.line();
  ASSERT_EQ(e.size(), good.size());
  EXPECT_NE(e.back(), ft12::kEnd);
  EXPECT_TRUE(std::equal(good.begin(), good.end() - 1, e.begin()));
  EXPECT_FALSE(ft12::answer_complete(e.data(), e.size()));

  Rig sum({}, {rule("bad-checksum:every=1")});
  sum.receive(Micros{0}, kIdentityRequest);
  Bytes s = sum.line();
  ASSERT_EQ(s.size(), good.size());
  EXPECT_NE(s[s.size() - 2], good[good.size() - 2]);
  EXPECT_EQ(s.back(), ft12::kEnd);
  EXPECT_TRUE(ft12::answer_complete(s.data(), s.size()));  // the loader doesn't check the sum
}

TEST(Faults, NoiseIsNeverTakenForTheAnswer) {
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    Rig rig({}, {rule("noise:every=1,bytes=2")}, seed);
    rig.receive(Micros{0}, request("R000000," + std::string(seed % 2 ? "01" : "40") + "\n"));
    Bytes got = rig.line();
    ASSERT_GT(got.size(), 2u);
    EXPECT_NE(got[0], ft12::kStart) << seed;
    EXPECT_FALSE(ft12::answer_complete(got.data(), got.size())) << "seed " << seed;
  }
}

// Garbage stands in for the answer: printable text without a start byte, so no frame can be read
// from it, while the request is still carried out.
TEST(Faults, GarbageTakesTheAnswersPlaceAndHoldsNoFrame) {
  Rig rig({}, {rule("garbage:every=1,bytes=300")});
  rig.receive(Micros{0}, request("W000000<5A\n"));
  const Bytes got = rig.line();
  ASSERT_EQ(got.size(), 300u);
  for (std::uint8_t c : got) {
    EXPECT_TRUE(c >= 0x20 && c < 0x7F) << int{c};
    EXPECT_NE(c, ft12::kStart);
  }
  EXPECT_TRUE(rig.logged("garbage "));
  Bytes mem;
  rig.board.memory().read(0, 1, mem);
  EXPECT_EQ(mem, Bytes{0x5A});
}

TEST(Faults, RefuseCountsBlocksAndWritesNothing) {
  Rig rig({}, {rule("refuse:every=2")});
  Bytes block = hex_bytes("68 0E 0E 68 7F 7F 47 F5 73 45 23 01 03 11 22 33 27 84 2A 16");
  rig.receive(Micros{0}, kIdentityRequest);  // not a block: not counted
  rig.line();
  rig.receive(Micros{1000}, block);
  EXPECT_EQ(rig.line(), answer("*"));
  rig.board.memory().write(0x012345, Bytes{0xFF, 0xFF, 0xFF});
  rig.receive(Micros{2000}, block);
  EXPECT_EQ(rig.line(), answer("!refused"));
  Bytes mem;
  rig.board.memory().read(0x012345, 3, mem);
  EXPECT_EQ(mem, Bytes({0xFF, 0xFF, 0xFF}));
}

TEST(Faults, SilentBoardStopsAfterItsTelegrams) {
  Rig rig({}, {rule("silent:after=2")});
  rig.receive(Micros{0}, request("W000000<01\n"));
  rig.receive(Micros{1000}, request("W000000<02\n"));
  EXPECT_EQ(rig.line(), [] {
    Bytes two = answer("*");
    Bytes b = answer("*");
    two.insert(two.end(), b.begin(), b.end());
    return two;
  }());
  rig.receive(Micros{2000}, request("W000000<03\n"));
  rig.receive(Micros{3000}, kIdentityRequest);
  EXPECT_TRUE(rig.line().empty());
  Bytes mem;
  rig.board.memory().read(0, 1, mem);
  EXPECT_EQ(mem, Bytes{0x02});  // a silent board carries nothing out
}

std::string decisions(std::vector<FaultRule> rules, std::uint64_t seed) {
  FaultPlan plan(std::move(rules), seed);
  std::string s;
  for (int i = 0; i < 500; ++i) s += plan.next(i % 3 == 0).names() + ";";
  return s;
}

TEST(Faults, RandomDecisionsAreReproducibleFromTheSeed) {
  std::vector<FaultRule> rules{rule("drop:rate=0.1"), rule("late:rate=0.2"), rule("refuse:rate=0.5"),
                               rule("noise:rate=0.3")};
  EXPECT_EQ(decisions(rules, 42), decisions(rules, 42));
  EXPECT_NE(decisions(rules, 42), decisions(rules, 43));
  FaultPlan plan({rule("drop:rate=0.25")}, 5);
  int drops = 0;
  for (int i = 0; i < 4000; ++i) drops += plan.next(false).drop;
  EXPECT_NEAR(drops, 1000, 120);
}

TEST(Faults, RatesZeroAndOneAndEveryN) {
  FaultPlan plan({rule("drop:rate=0"), rule("late:rate=1"), rule("split:every=3")}, 9);
  std::string seen;
  for (int i = 0; i < 6; ++i) seen += plan.next(false).names() + ";";
  EXPECT_EQ(seen, "late;late;split,late;late;late;split,late;");
}

}  // namespace
}  // namespace vx::board
