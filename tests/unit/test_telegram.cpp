// The telegram exchange against a scripted byte stream on a fake clock.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "console/console.h"
#include "console/finish.h"
#include "console/outcome.h"
#include "loader/run.h"
#include "serial/comdrv.h"
#include "serial/link.h"
#include "protocol/frame.h"
#include "serial/telegram.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::Bytes;
using test::Chunk;
using test::hex_bytes;
using test::ScriptedBoard;

class Telegram : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_run();
    board.install();
    ASSERT_EQ(zapni_UART(0x3F8, 4, 38400, 0), 0);
    console_set_tap([this](char c) { printed.push_back(c); });
  }
  void TearDown() override {
    console_set_tap(nullptr);
    comdrv_close();
    ScriptedBoard::uninstall();
  }
  // Runs sendc; returns the exit code if the run ended, else -1.
  int send(const char* text) {
    try {
      sendc(text);
      return -1;
    } catch (const RunEnded& e) {
      return e.code;
    }
  }
  ScriptedBoard board;
  std::string printed;
};

TEST_F(Telegram, RequestFramesAreExact) {
  const struct {
    const char* text;
    const char* frame;
  } cases[] = {
      {"I000000\n", "68 0C 0C 68 7F 7F 47 F5 49 30 30 30 30 30 30 0A AD 16"},
      {"", "68 04 04 68 7F 7F 47 F5 3A 16"},
      {"~I000000\n", "68 0C 0C 68 7F 7F 47 F5 49 30 30 30 30 30 30 0A AD 16"},
  };
  for (const auto& c : cases) {
    board.requests.clear();
    send(c.text);
    ASSERT_EQ(board.requests.size(), 1u) << c.text;
    EXPECT_EQ(board.requests[0], hex_bytes(c.frame)) << c.text;
  }
}

TEST_F(Telegram, AnswerJudgement) {
  auto with_end = [](Bytes f, std::uint8_t end) {
    f.back() = end;
    return f;
  };
  auto with_sum = [](Bytes f) {
    f[f.size() - 2] ^= 0x5A;
    return f;
  };
  const struct {
    const char* name;
    Bytes answer;
    int txrxok;
    const char* text;
  } cases[] = {
      {"plain answer", ft12::text_answer("OK"), 1, "OK"},
      {"L = 4: empty text", ft12::text_answer(""), 1, ""},
      {"wrong checksum is accepted", with_sum(ft12::text_answer("OK")), 1, "OK"},
      {"wrong end byte is no answer", with_end(ft12::text_answer("OK"), 0x17), 0, nullptr},
      {"L below 4 gives an empty text", hex_bytes("68 02 02 68 08 7F 87 16"), 1, ""},
      {"L above 250 is no answer", hex_bytes("68 FB FB 68 08 7F 47 F5 41 42"), 0, nullptr},
      {"nothing", Bytes{}, 0, nullptr},
  };
  for (const auto& c : cases) {
    board.handler = [&](const Bytes&) {
      return c.answer.empty() ? std::vector<Chunk>{} : std::vector<Chunk>{Chunk{Millis(1), c.answer}};
    };
    static const char kReq[] = "\x68\x01\x01\x68\x7F\x7F\x47\xF5X\n";
    unsigned char tel[256] = {};
    std::memcpy(tel, kReq, sizeof kReq);
    posli_telegram(tel, static_cast<int>(std::strlen(kReq) + 2));
    EXPECT_EQ(link_state().txrxok, c.txrxok) << c.name;
    if (c.text) {
      EXPECT_STREQ(reinterpret_cast<char*>(link_state().comdrv_rbuf + 8), c.text) << c.name;
    }
    EXPECT_TRUE(std::memchr(link_state().comdrv_rbuf + 8, 0, 248)) << c.name << ": text not terminated";
  }
}

TEST_F(Telegram, SilentBoardGetsNineAttemptsWithADotEach) {
  board.handler = [](const Bytes&) { return std::vector<Chunk>{}; };
  board.baud = 0;  // no line time: the clock measures the windows alone
  const Micros t0 = board.clock.now();
  EXPECT_EQ(send("X1\n"), 5);
  EXPECT_EQ(board.requests.size(), 9u);
  EXPECT_EQ(printed, ".........Error: No response.\nExit code     5");
  EXPECT_EQ(board.clock.now() - t0, Millis(9 * 306));  // nine full read windows
}

// A line that carries bytes but no answer frame fails as a silent board does, its console the same to
// the byte; the run's error detail (standard error, the end event) counts the bytes, so the user looks
// at the baud rate and the wiring. An echo alone is the request's own bytes: no count.
TEST(FloodedLine, SaysHowManyBytesCameThatWereNoAnswerFrame) {
  const Bytes text = test::bytes_of(std::string(600, 'U'));  // more than a window holds, every request
  const struct {
    const char* line;
    std::function<Bytes(const Bytes& request)> sends;
    const char* detail;
  } cases[] = {
      {"silent", [](const Bytes&) { return Bytes{}; }, ""},
      {"flooded with text", [&](const Bytes&) { return text; },
       "No response: 2304 bytes came in the read windows, but no answer frame among them"},
      {"three noise bytes an attempt",
       [](const Bytes&) {
         return Bytes{0x00, 0x55, 0xFF};
       },
       "No response: 27 bytes"},
      {"echo only", [](const Bytes& request) { return request; }, ""},
  };
  std::string silent_console;
  for (const auto& c : cases) {
    ScriptedBoard board;
    board.handler = [&](const Bytes& request) {
      const Bytes sent = c.sends(request);
      return sent.empty() ? std::vector<Chunk>{} : std::vector<Chunk>{Chunk{Millis(1), sent}};
    };
    const test::LoaderRun run = test::run_loader({"X1"}, board);
    EXPECT_EQ(run.code, 5) << c.line;
    EXPECT_EQ(board.requests.size(), 9u) << c.line;
    if (silent_console.empty()) silent_console = run.stream;
    EXPECT_EQ(run.stream, silent_console) << c.line;
    EXPECT_EQ(error_detail().rfind(c.detail, 0), 0u) << c.line << ": " << error_detail();
    if (!*c.detail) {
      EXPECT_EQ(error_detail(), "") << c.line;
    }
  }
  EXPECT_NE(silent_console.find(".........Error: No response.\n"), std::string::npos) << silent_console;
}

TEST_F(Telegram, TildeSendsOnceAndLeavesNoAnswer) {
  board.answers["I000000\n"] = "VQ";
  EXPECT_EQ(send("~I000000\n"), -1);
  EXPECT_EQ(board.requests.size(), 1u);
  EXPECT_STREQ(link_state().o, "");
  board.handler = [](const Bytes&) { return std::vector<Chunk>{}; };
  EXPECT_EQ(send("~X\n"), -1);  // never retried, never an error
  EXPECT_EQ(board.requests.size(), 2u);
}

TEST_F(Telegram, LateAnswerIsReadByTheNextExchange) {
  int n = 0;
  board.handler = [&](const Bytes&) {
    ++n;
    if (n == 1) return std::vector<Chunk>{Chunk{Millis(400), ft12::text_answer("LATE")}};
    return std::vector<Chunk>{Chunk{Millis(1), ft12::text_answer("SECOND")}};
  };
  EXPECT_EQ(send("A\n"), -1);
  EXPECT_EQ(board.requests.size(), 2u);  // one dot, then the second attempt
  EXPECT_STREQ(link_state().o, "LATE");  // the queued late answer comes first
  EXPECT_EQ(printed, ".");
}

TEST_F(Telegram, ReadWindowEndsAfter15msOfSilenceOr306msInAll) {
  const Bytes frame = ft12::text_answer("SPLIT");
  const Bytes head(frame.begin(), frame.begin() + 5), tail(frame.begin() + 5, frame.end());
  const struct {
    const char* name;
    Millis pause;
    int txrxok;
  } cases[] = {{"pause of 14 ms keeps the frame whole", Millis(14), 1}, {"pause of 16 ms splits it", Millis(16), 0}};
  for (const auto& c : cases) {
    board.handler = [&](const Bytes&) { return std::vector<Chunk>{Chunk{Millis(1), head}, Chunk{c.pause, tail}}; };
    unsigned char tel[256] = {0x68, 1, 1, 0x68, 0x7F, 0x7F, 0x47, 0xF5, 'Q'};
    posli_telegram(tel, 11);
    EXPECT_EQ(link_state().txrxok, c.txrxok) << c.name;
    if (c.txrxok == 0) {
      // The tail was left queued: the next exchange reads it first.
      board.handler = [](const Bytes&) { return std::vector<Chunk>{}; };
      posli_telegram(tel, 11);
      EXPECT_EQ(link_state().comdrv_rbuf[0], tail[0]) << c.name;
    }
  }
  // A board that trickles a byte every 10 ms is cut off at 306 ms.
  board.baud = 0;
  board.handler = [](const Bytes&) {
    std::vector<Chunk> chunks(100, Chunk{Millis(10), Bytes{0x55}});
    return chunks;
  };
  const Micros t0 = board.clock.now();
  unsigned char tel[256] = {0x68, 1, 1, 0x68, 0x7F, 0x7F, 0x47, 0xF5, 'Q'};
  posli_telegram(tel, 11);
  EXPECT_EQ(board.clock.now() - t0, Millis(306));
}

TEST_F(Telegram, OverlongCommandTextIsRefusedBeforeSending) {
  const std::string text(247, 'A');
  EXPECT_EQ(send(text.c_str()), 3);
  EXPECT_TRUE(board.requests.empty());
  EXPECT_EQ(send(std::string(246, 'A').c_str()), -1);
  EXPECT_EQ(board.requests.size(), 1u);
  EXPECT_EQ(board.requests[0].size(), 256u);
}

}  // namespace
}  // namespace vx
