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

// One record line with its count and checksum; `data` holds the raw bytes.
std::string srec(char type, unsigned address, const std::string& data) {
  const unsigned count = static_cast<unsigned>(data.size()) + 4;
  unsigned sum = count + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
  // S1 has two address bytes, S3 four, the others three.
  const int digits = type == '1' ? 4 : type == '3' ? 8 : 6;
  const unsigned count_of_type = count + static_cast<unsigned>(digits / 2) - 3;
  sum += count_of_type - count + (type == '3' ? address >> 24 : 0);
  char head[20];
  std::snprintf(head, sizeof head, "S%c%02X%0*X", type, count_of_type, digits, address);
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
  for (std::size_t i = 0; i < data.size(); i += 32)
    text += srec('2', address + static_cast<unsigned>(i), data.substr(i, 32));
  return text;
}

// The runs handed on for `text`, a line at a time as "@verify" reads it (the reader's own rules, CR LF
// and Ctrl-Z, are tested with the reader).
using Runs = std::vector<std::pair<unsigned, std::string>>;

Runs runs_of(const std::string& text) {
  Runs runs;
  ExpectedRuns gathered([&](const ExpectedRun& run) {
    EXPECT_LE(run.bytes.size(), kVerifyRun);
    runs.emplace_back(run.start, std::string(run.bytes.begin(), run.bytes.end()));
  });
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    add_record_line(gathered, text.substr(at, end - at + 1).c_str(), record::Place{"f.s28", 1});
    at = end + 1;
  }
  gathered.flush();
  return runs;
}

// --- the runs a file is checked in -----------------------------------------------------------------

struct RunCase {
  const char* edge;
  std::string text;
  Runs runs;
};

TEST(VerifyRuns, GatheredInFileOrder) {
  const std::string long_data = pattern(5000);
  const RunCase cases[] = {
      {"one record", srec('2', 0x010000, "abcd"), {{0x010000, "abcd"}}},
      {"adjacent records join", srec('2', 0x10, "ab") + srec('2', 0x12, "cd"), {{0x10, "abcd"}}},
      {"an overlapping record writes over the run",
       srec('2', 0x10, "abcd") + srec('2', 0x12, "xyz"),
       {{0x10, "abxyz"}}},
      {"a later record inside the run wins", srec('2', 0x10, "abcd") + srec('2', 0x11, "XY"), {{0x10, "aXYd"}}},
      {"a gap of one byte splits", srec('2', 0x10, "ab") + srec('2', 0x13, "cd"), {{0x10, "ab"}, {0x13, "cd"}}},
      {"file order, not address order", srec('2', 0x300, "a") + srec('2', 0x100, "b"), {{0x300, "a"}, {0x100, "b"}}},
      {"last bytes of memory", srec('2', 0xFFFFFE, "ab"), {{0xFFFFFE, "ab"}}},
      {"S8 with data adds it", srec('2', 0x10, "ab") + srec('8', 0x12, "c"), {{0x10, "abc"}}},
      {"S1 and S3 records", srec('1', 0x20, "ab") + srec('3', 0x30, "cd"), {{0x20, "ab"}, {0x30, "cd"}}},
      {"S3 at the top of the 24-bit space", srec('3', 0xFFFFFF, "z"), {{0xFFFFFF, "z"}}},
      {"other record types ignored", srec('0', 0, "hdr") + srec('5', 0, "") + srec('7', 0, "") + srec('9', 0, ""), {}},
      {"comments and commands ignored", ";S2 in a comment\nI000000\n@binget000000,000001>x\n\n", {}},
      {"a run is handed on full at 4096 bytes",
       records(0, long_data),
       {{0, long_data.substr(0, kVerifyRun)}, {kVerifyRun, long_data.substr(kVerifyRun)}}},
  };
  for (const auto& c : cases) EXPECT_EQ(runs_of(c.text), c.runs) << c.edge;
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
      {"an S3 record above the 24-bit space", "S307010000004142E6\n", "Bad format:07010000004142E6"},
      {"data shorter than the count", "S2080000104142\n", "Bad format:"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    // A good record before the bad one: the file is read whole before the board is asked anything.
    dir.write("f.s28", srec('2', 0x100, "ok") + c.line);
    MemoryBoard rb;
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
      {"blanks past a record's end, over the line's length",
       srec('2', 0x10, "ab").substr(0, 16) + std::string(300, ' ') + "\n", 0, "", 3, too_long, too_long},
      {"Ctrl-Z ends the file", srec('2', 0x10, "ab") + "\x1A" + srec('2', 0x40, "cd"), 0x10, "ab", 0,
       "Loading completed with no errors.", "Verified 2 bytes."},
      {"data pair not hexadecimal", "S2060000104G42E6\n", 0, "", 3, "Bad format:4G42E6", "Bad format:4G42E6"},
      {"a byte-order mark at the start of a later line (files joined)", two + "\xEF\xBB\xBF" + srec('2', 0x14, "ef"),
       0x10, "abcdef", 0, "Loading completed with no errors.", "Verified 6 bytes."},
      {"a checksum one off", "S206000010616227\n", 0, "", 3, "Bad format:27", "Bad format:27"},
      {"a bad checksum after good records", two + "S206000014656627\n", 0, "", 3, "Bad format:27", "Bad format:27"},
      {"a pair more than the count says", "S20500001061622600\n", 0, "", 3, "Bad format:622600", "Bad format:622600"},
  };
}

// A download and "@verify" read one file by one reader: what one refuses, the other refuses with the
// same line; what one writes, the other finds and counts. The download's S8 comes in a file of its own,
// as records split over files may have it.
TEST(VerifyAgreesWithTheDownload, SameFileSameVerdict) {
  for (const auto& c : agreement_cases()) {
    TempDir dir;
    dir.write("f.s28", c.file);
    dir.write("end.s28", "S804000000FB\n");
    MemoryBoard download_board;
    download_board.scripted["S804000000FB\n"] = "%*";
    LoaderRun download = run_loader({"f.s28", "end.s28"}, download_board.board);
    MemoryBoard verify_board;
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
    MemoryBoard rb;
    LoaderRun run = run_loader({arg}, rb.board);
    EXPECT_EQ(run.code, 3) << arg << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, kFolderRefused)) << arg << "\n" << log_of(run);
  }
}

// --- what the read-back asks for -------------------------------------------------------------------

// The board holds each part's data at its address (a later part over an earlier one, as a download
// leaves it); the file holds the parts as records of at most 32 bytes, in the same order.
using Parts = std::vector<std::pair<unsigned, std::string>>;

struct ReadCase {
  const char* edge;
  Parts parts;
  std::vector<std::string> requests;
  const char* result;
};

TEST(VerifyReads, OnlyTheCoveredRangesInChunksOf64) {
  const ReadCase cases[] = {
      {"one byte past a chunk", {{0x012300, pattern(65)}}, {"R012300,40\n", "R012340,01\n"}, "Verified 65 bytes."},
      {"gap between two ranges",
       {{0x100, pattern(3)}, {0x200, pattern(70)}},
       {"R000100,03\n", "R000200,40\n", "R000240,06\n"},
       "Verified 73 bytes."},
      {"chunk stops at the range's end",
       {{0x100, pattern(10)}, {0x10B, pattern(2)}},
       {"R000100,0A\n", "R00010B,02\n"},
       "Verified 12 bytes."},
      {"overlapping records read once",
       {{0x100, pattern(40)}, {0x110, pattern(40, 3)}},
       {"R000100,38\n"},
       "Verified 56 bytes."},
      {"ranges read in file order",
       {{0x300, pattern(1)}, {0x100, pattern(1)}},
       {"R000300,01\n", "R000100,01\n"},
       "Verified 2 bytes."},
      {"a long range in chunks as one", {{0x1000, pattern(4200)}}, {}, "Verified 4200 bytes."},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string file;
    MemoryBoard rb;
    for (const auto& [address, data] : c.parts) {
      file += records(address, data);
      rb.load(address, data);
    }
    dir.write("f.s28", file);
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_EQ(run.code, 0) << c.edge << "\n" << log_of(run);
    if (!c.requests.empty()) {
      EXPECT_EQ(rb.requests(), c.requests) << c.edge;
    } else {
      EXPECT_EQ(rb.requests().size(), (4200u + 63) / 64) << c.edge;
      EXPECT_EQ(rb.requests().back(), "R002040,28\n") << c.edge;
    }
    EXPECT_TRUE(has_line(run, c.result)) << c.edge << "\n" << log_of(run);
  }
}

// S1 and S3 records are data the board stores (the download sends them as text): checked like S2.
TEST(VerifyReads, S1AndS3RecordsAreChecked) {
  TempDir dir;
  dir.write("f.s28", srec('1', 0x0020, "ab") + srec('3', 0x00012345, "cd"));
  MemoryBoard rb;
  rb.load(0x0020, "ab");
  rb.load(0x012345, "cd");
  LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_TRUE(has_line(run, "Verified 4 bytes.")) << log_of(run);
  rb.load(0x012346, "X");
  LoaderRun changed = run_loader({"@verify<f.s28"}, rb.board);
  EXPECT_EQ(changed.code, 9) << log_of(changed);
  EXPECT_TRUE(has_line(changed, "Error: Verify failed at 012346: expected 64, found 58.")) << log_of(changed);
}

// A file that gives nothing to compare is no proof of anything.
TEST(VerifyFailures, NothingToCheckEndsWith9) {
  const std::pair<const char*, std::string> cases[] = {
      {"only comments", ";nothing here\n"},
      {"an empty file", ""},
      {"commands, no records", "I000000\n@binget000000,000001>x\n"},
      {"records of no data", srec('0', 0, "hdr") + srec('9', 0, "")},
      {"a binary file (lines of bytes from 0x80, Ctrl-Z)", "\x89PNG\r\n\x1a\n"},
  };
  for (const auto& [edge, text] : cases) {
    TempDir dir;
    dir.write("f.s28", text);
    MemoryBoard rb;
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_EQ(run.code, 9) << edge << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, "Error: No data record to verify in file f.s28")) << edge << "\n" << log_of(run);
    EXPECT_TRUE(rb.requests().empty()) << edge;
  }
}

// mprintf's %d shows five digits; a count of six must still show whole.
TEST(VerifyReads, CountOfSixDigitsShowsWhole) {
  TempDir dir;
  const std::string data = pattern(100000, 13);
  dir.write("f.s28", records(0x020000, data));
  MemoryBoard rb;
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
      {"first of two differences reported",
       {},
       {{0x1041, 0x11}, {0x1042, 0x22}},
       9,
       "Error: Verify failed at 001041: expected CA, found 11.",
       2},
      {"read refused", {{"R001040,24\n", "!"}}, {}, 7, "Error: Unexpected response: !", 2},
      {"answer one byte short",
       {{"R001000,40\n", "=" + std::string(126, '0')}},
       {},
       9,
       "Error: Bad length (   63/   64).",
       1},
      {"lone last digit is a byte of its own",
       {{"R001040,24\n", "=" + std::string(71, '0')}},
       {},
       9,
       "Error: Verify failed at 001040: expected C3, found 00.",
       2},
  };
  const std::string data = pattern(100);
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("f.s28", records(0x1000, data));
    MemoryBoard rb;
    rb.load(0x1000, data);
    for (const auto& [a, v] : c.changed) rb.load(a, std::string(1, static_cast<char>(v)));
    rb.scripted = c.scripted;
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, c.line)) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(rb.requests().size(), c.requests) << c.edge;
  }
}

TEST(VerifyFailures, FileThatCantBeOpenedEndsWith3) {
  TempDir dir;
  MemoryBoard rb;
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
  MemoryBoard rb;
  rb.load(0x10, "ab");
  LoaderRun run = run_loader({"@verify<f"}, rb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_TRUE(has_line(run, "Verified 2 bytes.")) << log_of(run);
}

// --- in a command file -----------------------------------------------------------------------------

// Records without an S8 leave their last block pending until their file ends: it reaches the board
// before it is read, and the run still fails for the S8 it never saw.
TEST(VerifyCommandFile, PendingBlockGoesOutBeforeTheFirstRead) {
  TempDir dir;
  const std::string data = pattern(40);
  dir.write("fw.s28", records(0x2000, data));
  dir.write("job.txt", "#fw.s28\n@verify<fw.s28\n");
  MemoryBoard rb;
  rb.load(0x2000, data);
  LoaderRun run = run_loader({"job.txt"}, rb.board);
  EXPECT_EQ(run.code, 3) << log_of(run);
  EXPECT_NE(run.stream.find("Error: The S-records ended without their S8 record"), std::string::npos) << log_of(run);
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
  MemoryBoard rb;
  rb.load(0x10, "ab");
  LoaderRun run = run_loader({"job.txt"}, rb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_EQ(rb.requests(), std::vector<std::string>{"R000010,02\n"});
  MemoryBoard rb2;
  LoaderRun empty = run_loader({"empty.txt"}, rb2.board);
  EXPECT_EQ(empty.code, 3) << log_of(empty);
  EXPECT_TRUE(has_line(empty, "Error: Can't open file")) << log_of(empty);
}

}  // namespace
}  // namespace vx::test
