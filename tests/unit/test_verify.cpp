// "@verify": the ranges a file covers, the read telegrams that cover them, and every way it ends.
// Reads go to a memory board the test fills; unwritten bytes read 0xFF, as on a fresh board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "console/finish.h"
#include "loader/loader.h"
#include "loader/verify.h"
#include "tests/support/memory_board.h"

namespace vx::test {
namespace {

constexpr std::uint8_t kErased = 0xFF;

// One record line with its count and checksum; `data` holds the raw bytes.
std::string srec(char type, unsigned address, const std::string& data) {
  const unsigned count = static_cast<unsigned>(data.size()) + 4;
  unsigned sum = count + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
  char head[16];
  std::snprintf(head, sizeof head, "S%c%02X%06X", type, count, address & 0xFFFFFF);
  std::string line = head;
  char pair[3];
  for (unsigned char c : data) {
    std::snprintf(pair, sizeof pair, "%02X", c);
    line += pair;
    sum += c;
  }
  std::snprintf(pair, sizeof pair, "%02X", ~sum & 0xFF);
  return line + pair + "\n";
}

// Records of at most 32 bytes holding `data` from `address` on.
std::string records(unsigned address, const std::string& data) {
  std::string text;
  for (std::size_t i = 0; i < data.size(); i += 32) text += srec('2', address + static_cast<unsigned>(i), data.substr(i, 32));
  return text;
}

// The image of a file that holds `text`, read as "@verify" reads its file.
ExpectedImage image_of(const std::string& text) {
  TempDir dir;
  dir.write("image.s28", text);
  return image_of_file("image.s28");
}

// --- the ranges a file covers ----------------------------------------------------------------------

struct RangeCase {
  const char* edge;
  std::string text;
  std::vector<MemoryRange> ranges;
};

TEST(VerifyImage, RangesMergeAndSplitByAddress) {
  const RangeCase cases[] = {
      {"one record", srec('2', 0x010000, "abcd"), {{0x010000, 4}}},
      {"adjacent records merge", srec('2', 0x10, "ab") + srec('2', 0x12, "cd"), {{0x10, 4}}},
      {"overlapping records merge", srec('2', 0x10, "abcd") + srec('2', 0x12, "xyz"), {{0x10, 5}}},
      {"a gap of one byte splits", srec('2', 0x10, "ab") + srec('2', 0x13, "cd"), {{0x10, 2}, {0x13, 2}}},
      {"range across a page boundary", srec('2', 0xFE, "abcd"), {{0xFE, 4}}},
      {"last bytes of memory", srec('2', 0xFFFFFE, "ab"), {{0xFFFFFE, 2}}},
      {"S8 with data adds it", srec('2', 0x10, "ab") + srec('8', 0x12, "c"), {{0x10, 3}}},
      {"other record types ignored",
       srec('0', 0, "hdr") + srec('1', 0x20, "ab") + srec('3', 0x30, "ab") + srec('9', 0, ""), {}},
      {"comments and commands ignored", ";S2 in a comment\nI000000\n@binget000000,000001>x\n\n", {}},
      {"CR LF line ends", "S206000010414266\r\nS206000012434460\r\n", {{0x10, 4}}},
      {"Ctrl-Z ends the text", srec('2', 0x10, "ab") + "\x1A" + srec('2', 0x40, "cd"), {{0x10, 2}}},
  };
  for (const auto& c : cases) {
    const ExpectedImage image = image_of(c.text);
    EXPECT_EQ(image.ranges(), c.ranges) << c.edge;
    std::size_t bytes = 0;
    for (const auto& r : c.ranges) bytes += r.length;
    EXPECT_EQ(image.covered(), bytes) << c.edge;
  }
}

TEST(VerifyImage, LaterRecordsByteWins) {
  const ExpectedImage image = image_of(srec('2', 0x10, "abcd") + srec('2', 0x11, "XY"));
  std::string held;
  for (unsigned a = 0x10; a < 0x14; ++a) held.push_back(static_cast<char>(image.at(a)));
  EXPECT_EQ(held, "aXYd");
}

// --- records the download would refuse -------------------------------------------------------------

struct BadRecordCase {
  const char* edge;
  std::string line;
  const char* message;
};

TEST(VerifyBadRecords, EndWith3BeforeAnyTelegram) {
  const BadRecordCase cases[] = {
      {"data pair not hexadecimal", "S2060000104G42E6\n", "Bad format:4G42E6"},
      {"count below the address and checksum", "S2030000104142E6\n", "Bad format:030000104142E6"},
      {"data past the top of memory", "S206FFFFFF4142E6\n", "Bad format:06FFFFFF4142E6"},
      {"data shorter than the count", "S2080000104142\n", "Bad format:"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    // A good record before the bad one: the file is read whole before the board is asked anything.
    dir.write("f.s28", srec('2', 0x100, "ok") + c.line);
    MemoryBoard rb{kErased};
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_EQ(run.code, 3) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, c.message)) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(rb.requests().empty()) << c.edge;
  }
}

// --- the same file, downloaded and verified --------------------------------------------------------

// A file whose records, where the download takes them, put `data` at `address`, and the text each run
// ends its output with before "Exit code" (the success lines differ by nature; a refusal is the same).
struct AgreementCase {
  const char* edge;
  std::string file;
  unsigned address;
  std::string data;
  int code;
  std::string download_line;
  std::string verify_line;
};

// The download prints "Bad format" on its "Packing..." line, @verify on a line of its own.
bool printed(const LoaderRun& run, const std::string& text) {
  return std::any_of(run.log.begin(), run.log.end(), [&](const std::string& line) { return line.ends_with(text); });
}

std::vector<AgreementCase> agreement_cases() {
  const std::string record_414 = srec('2', 0x1000, pattern(201));  // 201 data bytes: 414 characters
  const std::string long_comment(300, ';');  // skipped whole: what follows its line feed is the next line
  const std::string too_long = "Error: Line 1 of f.s28 is longer than 244 characters.";
  const std::string two = srec('2', 0x10, "ab") + srec('2', 0x12, "cd");
  return {
      {"a record of 414 characters", record_414, 0, "", 3, too_long, too_long},
      {"a byte-order mark before the first record", "\xEF\xBB\xBF" + two, 0x10, "abcd", 0,
       "Loading completed with no errors.", "Verified 4 bytes."},
      {"a zero byte in a record", "S206000010" + std::string(1, '\0') + "16226\n", 0, "", 3,
       "Error: Line 1 of f.s28 holds a NUL byte.", "Error: Line 1 of f.s28 holds a NUL byte."},
      {"CR LF line ends", "S206000010616226\r\nS206000012636420\r\n", 0x10, "abcd", 0,
       "Loading completed with no errors.", "Verified 4 bytes."},
      {"last line without a line feed", two.substr(0, two.size() - 1), 0x10, "abcd", 0,
       "Loading completed with no errors.", "Verified 4 bytes."},
      {"a long comment is skipped whole", long_comment + "\n" + srec('2', 0x10, "ab"), 0x10, "ab", 0,
       "Loading completed with no errors.", "Verified 2 bytes."},
      {"blanks past a record's end, over the line's length", srec('2', 0x10, "ab").substr(0, 16) +
       std::string(300, ' ') + "\n", 0, "", 3, too_long, too_long},
      {"Ctrl-Z ends the file", srec('2', 0x10, "ab") + "\x1A" + srec('2', 0x40, "cd"), 0x10, "ab", 0,
       "Loading completed with no errors.", "Verified 2 bytes."},
      {"data pair not hexadecimal", "S2060000104G42E6\n", 0, "", 3, "Bad format:4G42E6", "Bad format:4G42E6"},
  };
}

// A download and "@verify" read one file by one reader: what one refuses, the other refuses with the
// same line; what one writes, the other finds and counts.
TEST(VerifyAgreesWithTheDownload, SameFileSameVerdict) {
  for (const auto& c : agreement_cases()) {
    TempDir dir;
    dir.write("f.s28", c.file);
    MemoryBoard download_board{kErased};
    LoaderRun download = run_loader({"f.s28"}, download_board.board);
    MemoryBoard verify_board{kErased};
    verify_board.load(c.address, c.data);
    LoaderRun verify = run_loader({"@verify<f.s28"}, verify_board.board);
    EXPECT_EQ(download.code, c.code) << c.edge << "\n" << log_of(download);
    EXPECT_EQ(verify.code, c.code) << c.edge << "\n" << log_of(verify);
    EXPECT_TRUE(printed(download, c.download_line)) << c.edge << "\n" << log_of(download);
    EXPECT_TRUE(printed(verify, c.verify_line)) << c.edge << "\n" << log_of(verify);
  }
}

#ifdef _WIN32
constexpr char kFolderRefused[] = "Error: Can't open file dir.s28";  // a folder can't be opened as a file
#else
constexpr char kFolderRefused[] = "Error: Can't read file dir.s28";  // a folder opens; its read fails
#endif

TEST(VerifyAgreesWithTheDownload, FolderForAFileEndsBothWith3) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() + "/dir.s28");
  for (const char* arg : {"dir.s28", "@verify<dir.s28"}) {
    MemoryBoard rb{kErased};
    LoaderRun run = run_loader({arg}, rb.board);
    EXPECT_EQ(run.code, 3) << arg << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, kFolderRefused)) << arg << "\n" << log_of(run);
  }
}

// --- what the read-back asks for -------------------------------------------------------------------

struct ReadCase {
  const char* edge;
  std::string file;
  std::vector<std::string> requests;
  const char* result;
};

TEST(VerifyReads, OnlyTheCoveredRangesInChunksOf64) {
  const ReadCase cases[] = {
      {"one byte past a chunk", records(0x012300, pattern(65)), {"R012300,40\n", "R012340,01\n"}, "Verified 65 bytes."},
      {"gap between two ranges", records(0x100, pattern(3)) + records(0x200, pattern(70)),
       {"R000100,03\n", "R000200,40\n", "R000240,06\n"}, "Verified 73 bytes."},
      {"chunk stops at the range's end", records(0x100, pattern(10)) + records(0x10B, pattern(2)),
       {"R000100,0A\n", "R00010B,02\n"}, "Verified 12 bytes."},
      {"overlapping records read once", records(0x100, pattern(40)) + records(0x110, pattern(40)),
       {"R000100,38\n"}, "Verified 56 bytes."},
      {"ranges read in address order", records(0x300, pattern(1)) + records(0x100, pattern(1)),
       {"R000100,01\n", "R000300,01\n"}, "Verified 2 bytes."},
      {"no records", ";nothing here\n", {}, "Verified 0 bytes."},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("f.s28", c.file);
    MemoryBoard rb{kErased};
    for (const ExpectedImage image = image_of_file("f.s28"); const auto& r : image.ranges())
      for (unsigned a = r.start; a < r.start + r.length; ++a) rb.mem[a] = image.at(a);
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_EQ(run.code, 0) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(rb.requests(), c.requests) << c.edge;
    EXPECT_TRUE(has_line(run, c.result)) << c.edge << "\n" << log_of(run);
  }
}

// mprintf's %d shows five digits; a count of six must still show whole.
TEST(VerifyReads, CountOfSixDigitsShowsWhole) {
  TempDir dir;
  const std::string data = pattern(100000, 13);
  dir.write("f.s28", records(0x020000, data));
  MemoryBoard rb{kErased};
  rb.load(0x020000, data);
  LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_TRUE(has_line(run, "Verified 100000 bytes.")) << log_of(run);
  EXPECT_EQ(rb.requests().size(), (100000u + 63) / 64);
}

// --- how it fails ----------------------------------------------------------------------------------

struct FailureCase {
  const char* edge;
  std::map<std::string, std::string> scripted;  // over a board that holds the file's 100 bytes at 0x1000
  std::map<unsigned, std::uint8_t> changed;
  int code;
  const char* line;
  std::size_t requests;
};

TEST(VerifyFailures, FirstDifferenceOrBadAnswerEndsTheRun) {
  const FailureCase cases[] = {
      {"first byte differs", {}, {{0x1000, 0x00}}, 9, "Error: Verify failed at 001000: expected 03, found 00.", 1},
      {"last byte differs", {}, {{0x1063, 0xFF}}, 9, "Error: Verify failed at 001063: expected B8, found FF.", 2},
      {"first of two differences reported", {}, {{0x1041, 0x11}, {0x1042, 0x22}}, 9,
       "Error: Verify failed at 001041: expected CA, found 11.", 2},
      {"read refused", {{"R001040,24\n", "!"}}, {}, 7, "Error: Unexpected response: !", 2},
      {"answer one byte short", {{"R001000,40\n", "=" + std::string(126, '0')}}, {}, 9,
       "Error: Bad length (   63/   64).", 1},
      {"lone last digit is a byte of its own", {{"R001040,24\n", "=" + std::string(71, '0')}}, {}, 9,
       "Error: Verify failed at 001040: expected C3, found 00.", 2},
  };
  const std::string data = pattern(100);
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("f.s28", records(0x1000, data));
    MemoryBoard rb{kErased};
    rb.load(0x1000, data);
    for (const auto& [a, v] : c.changed) rb.mem[a] = v;
    rb.scripted = c.scripted;
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, c.line)) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(rb.requests().size(), c.requests) << c.edge;
  }
}

TEST(VerifyFailures, FileThatCantBeOpenedEndsWith3) {
  TempDir dir;
  MemoryBoard rb{kErased};
  LoaderRun run = run_loader({"@verify<missing.s28"}, rb.board);
  EXPECT_EQ(run.code, 3);
  EXPECT_TRUE(has_line(run, "Error: Can't open file missing.s28")) << log_of(run);
  EXPECT_TRUE(rb.requests().empty());
}

// --- the command text ------------------------------------------------------------------------------

struct Refusal {
  const char* edge;
  const char* text;
  const char* error;
};

TEST(VerifySyntax, RefusedCommandsReturnTheirErrorText) {
  const Refusal cases[] = {
      {"word alone", "@verify", "Syntax error"},
      {"'<' without a name", "@verify<", "Syntax error"},
      {"'>' for '<'", "@verify>f.s28", "Syntax error"},
      {"word in capitals", "@VERIFY<f.s28", "Unknown command"},
  };
  for (const auto& c : cases) {
    const char* got = zpracuj_prikaz(c.text);
    ASSERT_NE(got, nullptr) << c.edge;
    EXPECT_STREQ(got, c.error) << c.edge;
  }
}

TEST(VerifySyntax, OneCharacterNameFromTheCommandLine) {
  TempDir dir;
  dir.write("f", srec('2', 0x10, "ab"));
  MemoryBoard rb{kErased};
  rb.load(0x10, "ab");
  LoaderRun run = run_loader({"@verify<f"}, rb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_TRUE(has_line(run, "Verified 2 bytes.")) << log_of(run);
}

// --- in a command file -----------------------------------------------------------------------------

// Records without an S8 leave their last block pending: it must reach the board before it is read.
TEST(VerifyCommandFile, PendingBlockGoesOutBeforeTheFirstRead) {
  TempDir dir;
  const std::string data = pattern(40);
  dir.write("fw.s28", records(0x2000, data));
  dir.write("job.txt", "#fw.s28\n@verify<fw.s28\n");
  MemoryBoard rb{kErased};
  rb.load(0x2000, data);
  LoaderRun run = run_loader({"job.txt"}, rb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  const std::vector<std::string> sent = rb.requests();
  ASSERT_EQ(sent.size(), 2u) << log_of(run);
  EXPECT_EQ(sent[0][0], 's');  // the 40 bytes as one run
  EXPECT_EQ(sent[1], "R002000,28\n");
  EXPECT_TRUE(has_line(run, "Verified 40 bytes.")) << log_of(run);
}

TEST(VerifyCommandFile, NameEndsBeforeTheLineFeed) {
  TempDir dir;
  dir.write("f", srec('2', 0x10, "ab"));
  // "@verify<\n" has the minimum length only with its line feed, and names no file.
  dir.write("job.txt", "@verify<f\n");
  dir.write("empty.txt", "@verify<\n");
  MemoryBoard rb{kErased};
  rb.load(0x10, "ab");
  LoaderRun run = run_loader({"job.txt"}, rb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_EQ(rb.requests(), std::vector<std::string>{"R000010,02\n"});
  MemoryBoard rb2{kErased};
  LoaderRun empty = run_loader({"empty.txt"}, rb2.board);
  EXPECT_EQ(empty.code, 3) << log_of(empty);
  EXPECT_TRUE(has_line(empty, "Error: Can't open file")) << log_of(empty);
}

}  // namespace
}  // namespace vx::test
