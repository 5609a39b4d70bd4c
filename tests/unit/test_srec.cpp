// S-record packing and block transfer through the whole loader: a command file of records runs
// against the scripted board, and the test reads the block telegrams the board received.
#include <gtest/gtest.h>

#include <bitset>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/block.h"
#include "protocol/frame.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::Bytes;
using test::Chunk;
using test::hex_bytes;
using test::hex_string;
using test::LoaderRun;
using test::ScriptedBoard;

constexpr std::size_t kPayloadAt = ft12::kPrefixSize;

bool is_block(const Bytes& frame) {
  return frame.size() > kPayloadAt && (frame[kPayloadAt] == 's' || frame[kPayloadAt] == 'n');
}

// "s 012345 3": letter, address field, bytes carried; "bad crc" when the block CRC does not match.
std::string describe(const Bytes& frame) {
  const std::uint8_t* p = frame.data() + kPayloadAt;
  std::size_t payload = frame.size() - kPayloadAt - 2 - kCrcBytes;
  std::uint16_t crc = crc_b599(p, payload);
  if (p[payload] != (crc & 0xFF) || p[payload + 1] != (crc >> 8)) return "bad crc";
  unsigned address = p[1] | p[2] << 8 | p[3] << 16;
  std::size_t carried = p[0] == 's' ? p[4] : payload - kMaskHeaderSize;
  char out[32];
  std::snprintf(out, sizeof out, "%c %06X %zu", p[0], address, carried);
  return out;
}

std::vector<std::string> blocks_of(const ScriptedBoard& board) {
  std::vector<std::string> out;
  for (const auto& f : board.requests)
    if (is_block(f)) out.push_back(describe(f));
  return out;
}

bool has(const LoaderRun& run, const std::string& text) { return run.stream.find(text) != std::string::npos; }

// A 245-wide %s field: the text, then its fill of blanks, then what the format has after it.
bool has_field(const LoaderRun& run, const std::string& before, const std::string& field, char after) {
  std::size_t at = run.stream.find(before + field);
  if (at == std::string::npos) return false;
  std::size_t end = run.stream.find_first_not_of(' ', at + before.size() + field.size());
  return end != std::string::npos && run.stream[end] == after;
}

struct Download {
  test::TempDir dir;
  ScriptedBoard board;
  LoaderRun run(const std::string& records, std::vector<std::string> args = {"fw.s28"}) {
    dir.write("fw.s28", records);
    return test::run_loader(args, board);
  }
};

// --- the worked examples, byte for byte ---

TEST(WorkedExamples, RunEncodingThenS8) {
  Download d;
  LoaderRun run = d.run("S20701234511223329\nS804000000FB\n");
  EXPECT_EQ(run.code, 0);
  ASSERT_EQ(d.board.requests.size(), 2u);
  EXPECT_EQ(hex_string(d.board.requests[0]), "68 0E 0E 68 7F 7F 47 F5 73 45 23 01 03 11 22 33 27 84 2A 16");
  EXPECT_EQ(d.board.requests[1], ft12::text_request("S804000000FB\n"));
  EXPECT_TRUE(has(run, "   Sending block 012300   OK"));
  EXPECT_TRUE(has(run, "\rFlushing write buffer  OK"));
}

TEST(WorkedExamples, MaskEncoding) {
  Download d;
  LoaderRun run = d.run("S206012300AABB70\nS205012310CCFA\nS804000000FB\n");
  EXPECT_EQ(run.code, 0);
  ASSERT_EQ(d.board.requests.size(), 2u);
  EXPECT_EQ(hex_string(d.board.requests[0]),
            "68 1D 1D 68 7F 7F 47 F5 6E 00 23 01 03 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "AA BB CC 8B 81 0D 16");
}

TEST(WorkedExamples, BlockBoundarySendsTheFirstBlockAtOnce) {
  Download d;
  LoaderRun run = d.run("S20801237E010203044B\nS804000000FB\n");
  ASSERT_GE(d.board.requests.size(), 1u);
  EXPECT_EQ(hex_string(d.board.requests[0]), "68 0D 0D 68 7F 7F 47 F5 73 7E 23 01 02 01 02 31 89 0E 16");
  // Block 0x012380 stays pending until the S8 line sends it.
  ASSERT_EQ(d.board.requests.size(), 3u);
  EXPECT_EQ(hex_string(d.board.requests[1]), "68 0D 0D 68 7F 7F 47 F5 73 80 23 01 02 03 04 E4 59 97 16");
  EXPECT_EQ(run.code, 0);
}

// --- how records become blocks ---

TEST(Packing, RecordsToBlocks) {
  const std::string full_block =  // 0x012300..0x01237F in four records of 32 bytes
      "S224012300" + std::string(64, '1') + "97\n" + "S224012320" + std::string(64, '2') + "57\n" + "S224012340" +
      std::string(64, '3') + "17\n" + "S224012360" + std::string(64, '4') + "D7\n";
  struct Case {
    const char* edge;
    std::string records;
    std::vector<std::string> blocks;
  } cases[] = {
      {"one byte is a run of count 1", "S205012345AAE7\nS804000000FB\n", {"s 012345 1"}},
      {"a full block is one run of 0x80 from the base", full_block + "S804000000FB\n", {"s 012300 128"}},
      {"records out of order send the block again with only the new bytes",
       "S2060123000102D2\nS205012400AA2B\nS205012302BB19\nS804000000FB\n",
       {"s 012300 2", "s 012400 1", "s 012302 1"}},
      {"the same address twice goes once", "S205000010AA40\nS205000010BB2F\nS804000000FB\n", {"s 000010 1"}},
      {"block zero, S8 inside it: sent before the S8", "S206000000A1A2B6\nS804000000FB\n", {"s 000000 2"}},
      {"S8 with data stores it first", "S806000040C1C236\n", {"s 000040 2"}},
      {"lowercase digits", "S2050123ab5aD1\nS804000000FB\n", {"s 0123AB 1"}},
      {"only an S8: no block", "S804000000FB\n", {}},
      {"data up to 0xFFFFFF", "S206FFFFFE0102FA\nS804000000FB\n", {"s FFFFFE 2"}},
      {"an S2 without data moves the block", "S205000010AA40\nS204000100FA\nS804000100FA\n", {"s 000010 1"}},
  };
  for (const auto& c : cases) {
    Download d;
    LoaderRun run = d.run(c.records);
    EXPECT_EQ(run.code, 0) << c.edge;
    EXPECT_EQ(blocks_of(d.board), c.blocks) << c.edge;
  }
}

TEST(Packing, OptionOldSendsRecordsAsText) {
  Download d;
  LoaderRun run = d.run("S20701234511223329\nS804000000FB\n", {"old", "fw.s28"});
  EXPECT_EQ(run.code, 0);
  ASSERT_EQ(d.board.requests.size(), 2u);
  EXPECT_EQ(d.board.requests[0], ft12::text_request("S20701234511223329\n"));
  EXPECT_EQ(d.board.requests[1], ft12::text_request("S804000000FB\n"));
}

TEST(BadFormat, RefusedRecords) {
  struct Case {
    const char* edge;
    std::string records;
    std::string message;
    std::size_t blocks_sent;
  } cases[] = {
      {"address digit", "S2050123G5AA00\n", "Bad format:G5AA00", 0},
      {"count digit, read after the address", "S2X5012345AA\n", "Bad format:X5012345AA", 0},
      {"data digit", "S2060123451Z00\n", "Bad format:1Z00", 0},
      {"line ends before its address", "S2\n", "Bad format:", 0},
      {"line ends before its count's data", "S20A012345AABB\n", "Bad format:", 0},
      {"byte above 0x7F", "S205012345\xC1\xC1\n", "Bad format:", 0},
      {"count below 4 stores nothing", "S205000010AA40\nS203012345AA\n", "Bad format:03012345AA", 0},
      {"count 0", "S200012345AABBCC\n", "Bad format:00012345AABBCC", 0},
      {"data past 0xFFFFFF", "S206FFFFFF0102FF\n", "Bad format:06FFFFFF0102FF", 0},
      {"a record across two blocks is refused whole", "S20801237E0102ZZ04\n", "Bad format:ZZ04", 0},
      {"pairs beyond the count", "S2050123451122ZZ\nS804000000FB\n", "Bad format:22ZZ", 0},
      {"a pair beyond the count", "S2050123451122E7\n", "Bad format:22E7", 0},
      {"checksum one off", "S205012345AAE6\n", "Bad format:E6", 0},
      {"a bit flipped in the data", "S205012345ABE7\n", "Bad format:E7", 0},
      {"S8 checksum", "S205012345AAE7\nS804000000FC\n", "Bad format:FC", 0},
      {"good records before a bad one send nothing", "S205012345AAE7\nS205012400AA2B\nS2050124XXAA2B\n",
       "Bad format:XXAA2B", 0},
  };
  for (const auto& c : cases) {
    Download d;
    LoaderRun run = d.run(c.records);
    EXPECT_EQ(run.code, 3) << c.edge;
    EXPECT_TRUE(has(run, c.message)) << c.edge << "\n" << run.stream;
    EXPECT_EQ(blocks_of(d.board).size(), c.blocks_sent) << c.edge;
  }
}

// --- the board's answers ---

TEST(BlockAnswer, AcceptedAndRefusedTexts) {
  struct Case {
    std::string answer;
    int code;
  } cases[] = {{"*", 0}, {"A*", 0}, {"**", 0}, {"*!", 0}, {"!*", 4}, {"", 4}, {"OK", 4}, {"?", 4}};
  for (const auto& c : cases) {
    Download d;
    d.board.block_answer = c.answer;
    LoaderRun run = d.run("S205012345AAE7\nS804000000FB\n");
    EXPECT_EQ(run.code, c.code) << "answer '" << c.answer << "'";
    EXPECT_EQ(blocks_of(d.board).size(), 1u) << "a refused block is never retried: '" << c.answer << "'";
    if (c.code) {
      EXPECT_TRUE(has_field(run, "\nError:s|", c.answer, '|')) << c.answer;
    }
  }
}

struct SilentBlocks {
  int silent;
  void install(ScriptedBoard& board) {
    board.handler = [this, &board](const Bytes& req) -> std::vector<Chunk> {
      if (is_block(req) && silent-- > 0) return {};
      return board.answer_by_rules(req);
    };
  }
};

TEST(BlockAnswer, EightAttemptsWithoutDots) {
  struct Case {
    int silent;
    int code;
    std::size_t frames;
  } cases[] = {{0, 0, 1}, {1, 0, 2}, {7, 0, 8}, {8, 4, 8}, {100, 4, 8}};
  for (const auto& c : cases) {
    Download d;
    SilentBlocks s{c.silent};
    s.install(d.board);
    LoaderRun run = d.run("S2060000100102E6\nS804000000FB\n");
    EXPECT_EQ(run.code, c.code) << c.silent << " silent";
    EXPECT_EQ(blocks_of(d.board).size(), c.frames) << c.silent << " silent";
    std::string attempt = "   Sending block 000000   ";
    std::string shown;  // one text per attempt on the same line, no dot between them
    for (std::size_t k = 0; k < c.frames; ++k) shown += attempt;
    EXPECT_TRUE(has(run, shown + (c.code ? "\n" : "OK"))) << c.silent << " silent\n" << run.stream;
    if (c.code) {
      EXPECT_TRUE(has_field(run, "\nError:s|", "", '|'));
    }
  }
}

// --- the order on the wire, and the end of the records ---

// "block" for a block telegram, else the text telegram without its line feed.
std::vector<std::string> wire_of(const ScriptedBoard& board) {
  std::vector<std::string> out;
  for (const auto& f : board.requests) {
    if (is_block(f)) {
      out.push_back("block");
      continue;
    }
    std::string text = ScriptedBoard::request_text(f);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    out.push_back(text);
  }
  return out;
}

TEST(Order, ThePendingBlockGoesBeforeEveryTextTelegram) {
  const std::string s2 = "S205000010AA40\n", s8 = "S804000000FB\n";
  const std::string no_s8 = "Error: The S-records ended without their S8 record";
  struct Case {
    const char* edge;
    std::vector<std::pair<std::string, std::string>> files;  // name, content
    std::vector<std::string> args;
    int code;
    std::vector<std::string> wire;
    std::string said;  // in the console, when not empty
  } cases[] = {
      {"an S1 record (text) after an S2 in its block",
       {{"fw.s28", s2 + "S1040010BB30\n" + s8}},
       {"fw.s28"},
       0,
       {"block", "S1040010BB30", "S804000000FB"},
       ""},
      {"an S9 end record after an S2",
       {{"fw.s28", s2 + "S9030000FC\n" + s8}},
       {"fw.s28"},
       0,
       {"block", "S9030000FC", "S804000000FB"},
       ""},
      {"a raw command between two records of one block",
       {{"fw.s28", s2 + "XYZ\nS205000011BB2E\n" + s8}},
       {"fw.s28"},
       0,
       {"block", "XYZ", "block", "S804000000FB"},
       ""},
      {"a failing command after a file without S8: the last block was written",
       {{"fw.s28", s2}},
       {"fw.s28", "XYZ"},
       7,
       {"block", "XYZ"},
       "Error: Negative response."},
      {"records split over two files, the S8 in the last",
       {{"a.s28", s2}, {"b.s28", "S205000011BB2E\n" + s8}},
       {"a.s28", "b.s28"},
       0,
       {"block", "block", "S804000000FB"},
       ""},
      {"a file without S8: its block goes, the run fails", {{"fw.s28", s2}}, {"fw.s28"}, 3, {"block"}, no_s8},
      {"records as text (old) without S8", {{"fw.s28", s2}}, {"old", "fw.s28"}, 3, {"S205000010AA40"}, no_s8},
      {"records as text (old), one with a wrong checksum: nothing goes",
       {{"fw.s28", s2 + "S205000011BB2F\n" + s8}},
       {"old", "fw.s28"},
       3,
       {},
       "Bad format:2F"},
      {"old: a record in a conditional's action is read whole too",
       {{"fw.s28", "I000000\n?VQ!S205000010AA41\n"}},
       {"old", "fw.s28"},
       3,
       {"I000000"},
       "Bad format:41"},
      {"an S8 in a conditional's action ends the records",
       {{"fw.s28", s2 + "I000000\n?VQ!" + s8}},
       {"fw.s28"},
       0,
       {"block", "I000000", "S804000000FB"},
       ""},
      {"a count record that agrees",
       {{"fw.s28", s2 + "S5030001FB\n" + s8}},
       {"fw.s28"},
       0,
       {"block", "S5030001FB", "S804000000FB"},
       ""},
      {"a count record that disagrees: nothing goes",
       {{"fw.s28", s2 + "S5030002FA\n" + s8}},
       {"fw.s28"},
       3,
       {},
       "Error: Line 2 of fw.s28 counts 2 data records, the file holds 1 before it."},
      {"an S6 count record (3 bytes) that agrees",
       {{"fw.s28", s2 + "S604000001FA\n" + s8}},
       {"fw.s28"},
       0,
       {"block", "S604000001FA", "S804000000FB"},
       ""},
      {"an S6 count record that disagrees: nothing goes",
       {{"fw.s28", s2 + "S604000002F9\n" + s8}},
       {"fw.s28"},
       3,
       {},
       "Error: Line 2 of fw.s28 counts 2 data records, the file holds 1 before it."},
  };
  for (const auto& c : cases) {
    Download d;
    d.board.answers["XYZ\n"] = c.code == 7 ? "!" : "ok";
    for (const auto& [name, content] : c.files) d.dir.write(name, content);
    LoaderRun run = test::run_loader(c.args, d.board);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << run.stream;
    EXPECT_EQ(wire_of(d.board), c.wire) << c.edge;
    EXPECT_TRUE(has(run, c.said)) << c.edge << "\n" << run.stream;
  }
}

TEST(Checksums, IgnoredOnlyWhenAsked) {
  for (bool ignore : {false, true}) {
    Download d;
    d.dir.write("fw.s28", "S205012345AAE6\nS804000000FB\n");
    LoaderRun run = test::run_loader({"fw.s28"}, d.board, nullptr, {}, ignore);
    EXPECT_EQ(run.code, ignore ? 0 : 3) << run.stream;
    EXPECT_EQ(blocks_of(d.board).size(), ignore ? 1u : 0u);
  }
}

TEST(S8Answer, ConfirmationTexts) {
  struct Case {
    std::string answer;
    int code;
  } cases[] = {{"%*", 0}, {"%*done", 0}, {"%", 6}, {"*%", 6}, {"%*!", 6}, {"%*?", 6}, {"", 6}};
  for (const auto& c : cases) {
    Download d;
    d.board.s8_answer = c.answer;
    LoaderRun run = d.run("S804000000FB\n");
    EXPECT_EQ(run.code, c.code) << "answer '" << c.answer << "'";
    if (c.code) {
      EXPECT_TRUE(has_field(run, "\nError: Unexpected response: ", c.answer, '\n')) << c.answer;
    }
  }
}

}  // namespace
}  // namespace vx
