// The board's answers and what they do to its memory, request text in, answer text out.
#include <gtest/gtest.h>

#include "board/board.h"
#include "protocol/block.h"
#include "tests/support/scripted_board.h"

namespace vx::board {
namespace {

using test::hex_bytes;

std::string memory_hex(const Board& b, std::uint32_t address, std::size_t n) {
  Bytes out;
  b.memory().read(address, n, out);
  return test::hex_string(out);
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

struct Exchange {
  const char* name;
  std::string request;
  std::string answer;
};

void expect_answers(Board& board, const std::vector<Exchange>& exchanges) {
  for (const auto& e : exchanges) EXPECT_EQ(board.answer(e.request).text, e.answer) << e.name;
}

TEST(Board, AnswersTheBuiltInTelegrams) {
  Board board{Settings{}};
  expect_answers(board, {
                            {"identity", "I000000\n", "VQ-3140 ZARVEN v1.28"},
                            {"identity without line feed", "I000000", "VQ-3140 ZARVEN v1.28"},
                            {"identity with CR LF", "I000000\r\n", "VQ-3140 ZARVEN v1.28"},
                            {"another I command", "I000001\n", "?unknown command"},
                            {"erased memory", "R000000,02\n", "=FFFF"},
                            {"write", "W012300<0A1B2C\n", "*"},
                            {"read back past the write", "R012300,04\n", "=0A1B2CFF"},
                            {"write past the end", "WFFFFFF<0A0B\n", "!address out of range"},
                            {"unknown command", "HELLO\n", "?unknown command"},
                            {"empty command", "\n", "?unknown command"},
                        });
  EXPECT_EQ(memory_hex(board, 0xFFFFFE, 2), "FF FF");
}

TEST(Board, BlocksAreWrittenAndAnswered) {
  Board board{Settings{}};
  EXPECT_EQ(board.answer(text(hex_bytes("73 45 23 01 03 11 22 33 27 84"))).text, "*");
  EXPECT_EQ(memory_hex(board, 0x012344, 5), "FF 11 22 33 FF");
  EXPECT_EQ(
      board.answer(text(hex_bytes("6E 00 23 01 03 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 AA BB CC 8B 81"))).text,
      "*");
  EXPECT_EQ(memory_hex(board, 0x012300, 3), "AA BB FF");
  EXPECT_EQ(memory_hex(board, 0x012310, 1), "CC");
  // A payload may hold a line feed anywhere, also at its end: it is never stripped from a block.
  Bytes lf_crc = hex_bytes("73 00 00 00 01 0A");
  std::uint16_t crc = crc_b599(lf_crc.data(), lf_crc.size());
  lf_crc.push_back(static_cast<std::uint8_t>(crc));
  lf_crc.push_back(static_cast<std::uint8_t>(crc >> 8));
  EXPECT_EQ(board.answer(text(lf_crc)).text, "*");
  EXPECT_EQ(memory_hex(board, 0, 1), "0A");
}

TEST(Board, RefusedBlockLeavesMemoryAlone) {
  Board board{Settings{}};
  std::string reply = board.answer(text(hex_bytes("73 45 23 01 03 11 22 33 27 85"))).text;
  EXPECT_EQ(reply.front(), '!');
  EXPECT_EQ(memory_hex(board, 0x012345, 3), "FF FF FF");
}

TEST(Board, RecordsAsTextLines) {
  Board board{Settings{}};
  expect_answers(board, {
                            {"S2 writes", "S20701234511223329\n", "*"},
                            {"S2 with a wrong checksum still writes", "S2050123500000\n", "*"},
                            {"S8 confirms", "S804000000FB\n", "%*"},
                            {"S9 confirms", "S9030000FC\n", "%*"},
                            {"S0 header is taken and ignored", "S00600004844521B\n", "*"},
                            {"malformed record", "S2070123451122\n", "?bad record"},
                            {"S3 beyond the memory", "S3060100000001F7\n", "!address out of range"},
                        });
  EXPECT_EQ(memory_hex(board, 0x012345, 3), "11 22 33");
  EXPECT_EQ(memory_hex(board, 0x012350, 1), "00");
  EXPECT_EQ(memory_hex(board, 0, 3), "FF FF FF");
}

TEST(Board, TableAnswersComeFirst) {
  Settings s;
  s.answers = {{"HELLO", "hi"}, {"I000000", "custom board"}, {"R000000,01", "=1"}, {"EMPTY", ""}};
  Board board{s};
  expect_answers(board, {
                            {"table command", "HELLO\n", "hi"},
                            {"table command with CR LF", "HELLO\r\n", "hi"},
                            {"table overrides identity", "I000000\n", "custom board"},
                            {"table overrides a read", "R000000,01\n", "=1"},
                            {"empty answer", "EMPTY\n", ""},
                            {"not in the table", "HELLO2\n", "?unknown command"},
                        });
}

TEST(Board, OldBiosRefusesBlocksAndWritesRecords) {
  Settings s;
  s.old_bios = true;
  Board board{s};
  expect_answers(board,
                 {
                     {"identity names the older version", "I000000\n", "VQ-3140 ZARVEN v1.27"},
                     {"block", text(hex_bytes("73 45 23 01 03 11 22 33 27 84")), "!block telegrams not supported"},
                     {"S2 line", "S20701234511223329\n", "*"},
                     {"S8 line", "S804000000FB\n", "%*"},
                 });
  EXPECT_EQ(memory_hex(board, 0x012345, 3), "11 22 33");
}

}  // namespace
}  // namespace vx::board
