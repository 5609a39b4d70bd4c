// Bad input from the line's side (docs/bad-input.md): answers that come late, so that one request gets
// two. Found by the fault campaign (tests/faults/campaign.py): a memory read through a board whose
// answers came after the read window reported success with one chunk's bytes in the next chunk's place.
// A retried request's second answer must never stand in for the next request's own, while a late
// answer to a '~' text, which is never retried, is still taken by the next command.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "tests/support/memory_board.h"

namespace vx {
namespace {

using test::Bytes;
using test::Chunk;
using test::LoaderRun;
using test::ScriptedBoard;

constexpr Millis kLate{400};  // after the loader's 306 ms read window, inside the next one

std::uint8_t memory_at(unsigned address) { return static_cast<std::uint8_t>(address * 7 + 3); }

std::string memory_bytes(unsigned address, unsigned count) {
  std::string bytes;
  for (unsigned i = 0; i < count; ++i) bytes.push_back(static_cast<char>(memory_at(address + i)));
  return bytes;
}

// The answer to a read telegram "R%06X,%02X\n" from memory_at.
std::string read_answer(const std::string& request) {
  unsigned address = 0, count = 0;
  if (std::sscanf(request.c_str(), "R%6x,%2x", &address, &count) != 2) return "?syntax";
  return test::read_answer_of(memory_bytes(address, count));
}

TEST(LateAnswers, EveryReadAnswerLateStillFillsTheFileInOrder) {
  const struct {
    const char* edge;
    const char* command;
    unsigned address, count;
  } cases[] = {
      {"two full chunks: the second would get the first's bytes", "@binget001000,000080>out.bin", 0x1000, 0x80},
      {"four chunks, the last one short", "@binget0010F0,0000D1>out.bin", 0x10F0, 0xD1},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    ScriptedBoard board;
    board.handler = [&](const Bytes& request) {
      return std::vector<Chunk>{{kLate, ft12::text_answer(read_answer(ScriptedBoard::request_text(request)))}};
    };
    LoaderRun run = test::run_loader({c.command}, board);
    EXPECT_EQ(run.code, 0) << c.edge << "\n" << run.stream;
    EXPECT_EQ(dir.read("out.bin"), memory_bytes(c.address, c.count)) << c.edge;
  }
}

TEST(LateAnswers, RetriedBlocksSecondAnswerDoesNotHideTheNextBlocksRefusal) {
  test::TempDir dir;
  dir.write("fw.s28", "S205000100AA4F\nS205000200BB3D\nS804000000FB\n");
  ScriptedBoard board;
  board.baud = 0;  // answers timed from the requests alone
  int n = 0;
  board.handler = [&](const Bytes&) -> std::vector<Chunk> {
    switch (++n) {
      case 1:                                                         // block 0x100, and its retry:
      case 2: return {{kLate, ft12::text_answer("*")}};               // both answered after their window
      case 3: return {{Millis(300), ft12::text_answer("!bad CRC")}};  // block 0x200 refused, behind them
      default: return {{Millis(1), ft12::text_answer("%*")}};
    }
  };
  LoaderRun run = test::run_loader({"fw.s28"}, board);
  EXPECT_EQ(run.code, 4) << run.stream;
  EXPECT_NE(run.stream.find("Error:s|!bad CRC"), std::string::npos) << run.stream;
}

TEST(LateAnswers, ALateAnswerToATildeTextIsStillTakenByTheNextCommand) {
  ScriptedBoard board;
  board.handler = [&](const Bytes& request) -> std::vector<Chunk> {
    if (ScriptedBoard::request_text(request) == "A\n") return {{kLate, ft12::text_answer("first")}};
    return {{kLate, ft12::text_answer("second")}};
  };
  LoaderRun run = test::run_loader({"~A", "B"}, board);
  EXPECT_EQ(run.code, 0) << run.stream;
  EXPECT_NE(run.stream.find("Answer: first"), std::string::npos) << run.stream;
}

}  // namespace
}  // namespace vx
