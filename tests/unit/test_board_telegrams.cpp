// The board's telegram parsers and the block decoder: tables of requests, named by the edge they probe.
#include <gtest/gtest.h>

#include "board/telegrams.h"
#include "protocol/block.h"
#include "tests/support/scripted_board.h"

namespace vx::board {
namespace {

using test::hex_bytes;

Bytes with_crc(Bytes payload) {
  std::uint16_t crc = crc_b599(payload.data(), payload.size());
  payload.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  payload.push_back(static_cast<std::uint8_t>(crc >> 8));
  return payload;
}

std::string decode(const Bytes& payload, std::vector<ByteRun>& runs) {
  return decode_block(payload.data(), payload.size(), runs);
}

TEST(BlockCrc, CheckValues) {
  const std::string abc = "abc", digits = "123456789";
  EXPECT_EQ(crc_b599(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()), 0x1D05);
  EXPECT_EQ(crc_b599(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()), 0x61C6);
}

// The three worked examples of the block encodings, as the loader sends them.
TEST(DecodeBlock, RunExampleWritesThreeBytes) {
  std::vector<ByteRun> runs;
  ASSERT_EQ(decode(hex_bytes("73 45 23 01 03 11 22 33 27 84"), runs), "");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].address, 0x012345u);
  EXPECT_EQ(runs[0].bytes, hex_bytes("11 22 33"));
}

TEST(DecodeBlock, MaskExampleWritesTwoRuns) {
  std::vector<ByteRun> runs;
  ASSERT_EQ(decode(hex_bytes("6E 00 23 01 03 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 AA BB CC 8B 81"), runs), "");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].address, 0x012300u);
  EXPECT_EQ(runs[0].bytes, hex_bytes("AA BB"));
  EXPECT_EQ(runs[1].address, 0x012310u);
  EXPECT_EQ(runs[1].bytes, hex_bytes("CC"));
}

TEST(DecodeBlock, BoundaryExampleWritesTheBlockEnd) {
  std::vector<ByteRun> runs;
  ASSERT_EQ(decode(hex_bytes("73 7E 23 01 02 01 02 31 89"), runs), "");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].address, 0x01237Eu);
  EXPECT_EQ(runs[0].bytes, hex_bytes("01 02"));
}

TEST(DecodeBlock, FullBlocksInBothEncodings) {
  Bytes run = hex_bytes("73 80 23 01 80");
  Bytes mask = hex_bytes("6E 80 23 01");
  for (int i = 0; i < 16; ++i) mask.push_back(0xFF);
  for (int i = 0; i < 128; ++i) {
    run.push_back(static_cast<std::uint8_t>(i));
    mask.push_back(static_cast<std::uint8_t>(i));
  }
  for (const Bytes& payload : {with_crc(run), with_crc(mask)}) {
    std::vector<ByteRun> runs;
    ASSERT_EQ(decode(payload, runs), "");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].address, 0x012380u);
    EXPECT_EQ(runs[0].bytes.size(), 128u);
    EXPECT_EQ(runs[0].bytes[127], 127);
  }
}

struct Refusal {
  const char* name;
  Bytes payload;
  std::string_view answer;
};

TEST(DecodeBlock, RefusesBrokenBlocks) {
  Bytes mask_head = hex_bytes("6E 00 23 01 03 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00");
  auto mask_with = [&](const char* data) {
    Bytes b = mask_head;
    Bytes d = hex_bytes(data);
    b.insert(b.end(), d.begin(), d.end());
    return with_crc(b);
  };
  Bytes unaligned = mask_with("AA BB CC");
  const Refusal cases[] = {
      {"crc low byte wrong", hex_bytes("73 45 23 01 03 11 22 33 28 84"), kBadCrc},
      {"data byte damaged", hex_bytes("73 45 23 01 03 11 22 34 27 84"), kBadCrc},
      {"run of zero bytes", with_crc(hex_bytes("73 45 23 01 00")), kBadRunLength},
      {"run longer than a block", with_crc(hex_bytes("73 00 23 01 81 00")), kBadRunLength},
      {"run count above its bytes", with_crc(hex_bytes("73 45 23 01 04 11 22 33")), kBadBlockLength},
      {"run count below its bytes", with_crc(hex_bytes("73 45 23 01 02 11 22 33")), kBadBlockLength},
      {"run crossing into the next block", with_crc(hex_bytes("73 7F 23 01 02 01 02")), kRunLeavesBlock},
      {"run without data", hex_bytes("73 45 23 01 03"), kShortBlock},
      {"letter alone", hex_bytes("73"), kShortBlock},
      {"mask without data or crc", mask_head, kShortBlock},
      {"mask bytes fewer than its bits", mask_with("AA BB"), kBadBlockLength},
      {"mask bytes more than its bits", mask_with("AA BB CC DD"), kBadBlockLength},
      {"mask crc wrong", hex_bytes("6E 00 23 01 03 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 AA BB CC 8B 82"),
       kBadCrc},
  };
  for (const auto& c : cases) {
    std::vector<ByteRun> runs;
    EXPECT_EQ(decode(c.payload, runs), c.answer) << c.name;
    EXPECT_TRUE(runs.empty()) << c.name;
  }
  unaligned[1] = 0x01;
  unaligned = with_crc(Bytes(unaligned.begin(), unaligned.end() - 2));
  std::vector<ByteRun> runs;
  EXPECT_EQ(decode(unaligned, runs), kUnalignedBase);
}

struct ReadCase {
  const char* command;
  std::string_view refusal;
  std::uint32_t address;
  unsigned count;
};

TEST(ParseRead, Table) {
  const ReadCase cases[] = {
      {"R012300,40", "", 0x012300, 0x40},
      {"R01a3b0,0f", "", 0x01A3B0, 0x0F},           // lower-case digits
      {"R000000,00", "", 0, 0},                     // nothing asked, nothing sent
      {"R012300,7A", "", 0x012300, kMaxReadCount},  // the most one answer frame holds
      {"RFFFFFF,01", "", 0xFFFFFF, 1},              // the last byte
      {"R012300,7B", kCountTooLarge, 0, 0},
      {"RFFFFFF,02", kOutOfRange, 0, 0},
      {"R01230,40", kBadForm, 0, 0},
      {"R012300,4", kBadForm, 0, 0},
      {"R0123G0,40", kBadForm, 0, 0},
  };
  for (const auto& c : cases) {
    ReadRequest r;
    EXPECT_EQ(parse_read(c.command, r), c.refusal) << c.command;
    if (c.refusal.empty()) {
      EXPECT_EQ(r.address, c.address) << c.command;
      EXPECT_EQ(r.count, c.count) << c.command;
    }
  }
}

TEST(ReadAnswer, UpperCasePairsAfterEquals) {
  EXPECT_EQ(read_answer({}), "=");
  EXPECT_EQ(read_answer(hex_bytes("0A FF 00 7b")), "=0AFF007B");
}

struct WriteCase {
  const char* command;
  std::string_view refusal;
  std::uint32_t address;
  const char* data;
};

TEST(ParseWrite, Table) {
  const WriteCase cases[] = {
      {"W012300<0A1B2C", "", 0x012300, "0A 1B 2C"},
      {"W012300<", "", 0x012300, ""},
      {"WFFFFFE<0102", "", 0xFFFFFE, "01 02"},
      {"WFFFFFF<0102", kOutOfRange, 0, ""},
      {"W012300<0A1", kOddDigits, 0, ""},
      {"W012300<0G", kBadDigit, 0, ""},
      {"W012300<0A\x01"
       "B",
       kBadDigit, 0, ""},
      {"W012300>0A", kBadForm, 0, ""},
      {"W01230<0A", kBadForm, 0, ""},
      {"W0123X0<0A", kBadForm, 0, ""},
  };
  for (const auto& c : cases) {
    WriteRequest w;
    EXPECT_EQ(parse_write(c.command, w), c.refusal) << c.command;
    if (c.refusal.empty()) {
      EXPECT_EQ(w.address, c.address) << c.command;
      EXPECT_EQ(w.data, hex_bytes(c.data)) << c.command;
    }
  }
}

struct RecordCase {
  const char* command;
  std::string_view refusal;
  char type;
  std::uint32_t address;
  const char* data;
  bool checksum_ok;
};

TEST(ParseRecord, Table) {
  const RecordCase cases[] = {
      {"S20701234511223329", "", '2', 0x012345, "11 22 33", true},
      {"S206012300aabb70", "", '2', 0x012300, "AA BB", true},
      {"S804000000FB", "", '8', 0, "", true},
      {"S804000000FF", "", '8', 0, "", false},  // reported, not refused
      {"S1051234AABB01", "", '1', 0x1234, "AA BB", false},
      {"S10512340102B1", "", '1', 0x1234, "01 02", true},
      {"S3060012345601FF", "", '3', 0x00123456, "01", false},
      {"S00600004844521B", "", '0', 0, "48 44 52", true},
      {"S4030000FC", kBadRecord, 0, 0, "", false},  // reserved type
      {"S20301234", kBadRecord, 0, 0, "", false},   // count below address and checksum
      {"S2070123451122332", kBadRecord, 0, 0, "", false},
      {"S207012345112233290", kBadRecord, 0, 0, "", false},
      {"S2070123451122ZZ29", kBadRecord, 0, 0, "", false},
  };
  for (const auto& c : cases) {
    Record r;
    EXPECT_EQ(parse_record(c.command, r), c.refusal) << c.command;
    if (!c.refusal.empty()) continue;
    EXPECT_EQ(r.type, c.type) << c.command;
    EXPECT_EQ(r.address, c.address) << c.command;
    EXPECT_EQ(r.data, hex_bytes(c.data)) << c.command;
    EXPECT_EQ(r.checksum_ok, c.checksum_ok) << c.command;
  }
}

TEST(CommandOf, StripsOneLineEnd) {
  EXPECT_EQ(command_of("R\n"), "R");
  EXPECT_EQ(command_of("R\r\n"), "R");
  EXPECT_EQ(command_of("R"), "R");
  EXPECT_EQ(command_of("\n"), "");
  EXPECT_EQ(command_of("R\n\n"), "R\n");
}

}  // namespace
}  // namespace vx::board
