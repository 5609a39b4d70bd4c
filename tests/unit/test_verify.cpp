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
#include "protocol/firmware.h"
#include "protocol/image.h"
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

// The end record a file read as "@load" reads it needs.
const std::string kEnd = "S804000000FB\n";

// The runs handed on for `text`, read as "@verify" reads it: into an image, a later record's bytes
// standing where records overlap, then in address order.
using Runs = std::vector<std::pair<unsigned, std::string>>;

Runs runs_of(const std::string& text) {
  Runs runs;
  ExpectedRuns gathered([&](const ExpectedRun& run) {
    EXPECT_LE(run.bytes.size(), kVerifyRun);
    runs.emplace_back(run.start, std::string(run.bytes.begin(), run.bytes.end()));
  });
  image::Image image;
  image::ImageBuilder builder(image, image::Rewrites::LaterWins);
  image::TextFirmwareReader reader(image::Format::SRecords,
                                   [&](const image::DataRecord& record) { return builder.add(record); });
  const std::string file = text + kEnd;
  EXPECT_FALSE(reader.feed(reinterpret_cast<const std::uint8_t*>(file.data()), file.size())) << text;
  EXPECT_FALSE(reader.finish()) << text;
  add_image(gathered, image);
  return runs;
}

// --- the runs a file is checked in -----------------------------------------------------------------

struct RunCase {
  const char* edge;
  std::string text;
  Runs runs;
};

TEST(VerifyRuns, GatheredInAddressOrder) {
  const std::string long_data = pattern(5000);
  const RunCase cases[] = {
      {"one record", srec('2', 0x010000, "abcd"), {{0x010000, "abcd"}}},
      {"adjacent records join", srec('2', 0x10, "ab") + srec('2', 0x12, "cd"), {{0x10, "abcd"}}},
      {"an overlapping record writes over the run",
       srec('2', 0x10, "abcd") + srec('2', 0x12, "xyz"),
       {{0x10, "abxyz"}}},
      {"a later record inside the run wins", srec('2', 0x10, "abcd") + srec('2', 0x11, "XY"), {{0x10, "aXYd"}}},
      {"a later record far down the file wins",
       srec('2', 0x1000, "AAAA") + srec('2', 0x5000, "cd") + srec('2', 0x1000, "BB"),
       {{0x1000, "BBAA"}, {0x5000, "cd"}}},
      {"a gap of one byte splits", srec('2', 0x10, "ab") + srec('2', 0x13, "cd"), {{0x10, "ab"}, {0x13, "cd"}}},
      {"address order, not file order", srec('2', 0x300, "a") + srec('2', 0x100, "b"), {{0x100, "b"}, {0x300, "a"}}},
      {"last bytes of memory", srec('2', 0xFFFFFE, "ab"), {{0xFFFFFE, "ab"}}},
      {"S1 and S3 records", srec('1', 0x20, "ab") + srec('3', 0x30, "cd"), {{0x20, "ab"}, {0x30, "cd"}}},
      {"S3 at the top of the 24-bit space", srec('3', 0xFFFFFF, "z"), {{0xFFFFFF, "z"}}},
      {"a header record holds no data", srec('0', 0, "hdr"), {}},
      {"blank lines ignored", "\n  \n" + srec('2', 0x10, "ab") + "\n", {{0x10, "ab"}}},
      {"a run is handed on full at 4096 bytes",
       records(0, long_data),
       {{0, long_data.substr(0, kVerifyRun)}, {kVerifyRun, long_data.substr(kVerifyRun)}}},
  };
  for (const auto& c : cases) EXPECT_EQ(runs_of(c.text), c.runs) << c.edge;
}

// --- records "@load" refuses -------------------------------------------------------------------------

struct BadRecordCase {
  const char* edge;
  std::string line;
  const char* message;
};

TEST(VerifyBadRecords, EndWith3BeforeAnyTelegram) {
  const BadRecordCase cases[] = {
      {"data pair not hexadecimal", "S2060000104G42E6\n",
       "Error: f.s28: line 2 lacks a hexadecimal pair at column 11."},
      {"count below the address and checksum", "S2030000104142E6\n",
       "Error: f.s28: line 2 has a count too small for its address and checksum."},
      {"data past the top of memory", srec('2', 0xFFFFFF, "AB"),
       "Error: f.s28: line 2 puts data at 1000000, outside memory 000000-FFFFFF."},
      {"an S3 record above the 24-bit space", srec('3', 0x01000000, "AB"),
       "Error: f.s28: line 2 puts data at 1000000, outside memory 000000-FFFFFF."},
      {"data shorter than the count", "S2080000104142\n",
       "Error: f.s28: line 2 lacks a hexadecimal pair at column 15."},
  };
  for (const auto& c : cases) {
    TempDir dir;
    // A good record before the bad one: the file is read whole before the board is asked anything.
    dir.write("f.s28", srec('2', 0x100, "ok") + c.line + kEnd);
    MemoryBoard rb;
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_NE(run.code, 0) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, c.message)) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(rb.requests().empty()) << c.edge;
  }
}

// --- one file, one image ---------------------------------------------------------------------------

// An S-record file through "@load", through a command file that names it and through "@verify": the
// exit codes of the three, and the line "@verify" ends with. "@verify" reads back the board "@load"
// wrote when it took the file, else the one the command file's download left, else a fresh one.
struct AgreementCase {
  const char* edge;
  std::string file;
  int load_code;
  int command_code;
  int verify_code;
  std::string verify_line;
};

// The download prints "Bad format" on its "Packing..." line, @verify on a line of its own.
bool printed(const LoaderRun& run, const std::string& text) {
  return std::any_of(run.log.begin(), run.log.end(), [&](const std::string& line) { return line.ends_with(text); });
}

std::vector<AgreementCase> agreement_cases() {
  const std::string record_414 = srec('2', 0x1000, pattern(201));  // 201 data bytes: 414 characters
  const std::string record_514 = srec('3', 0x2000, pattern(250));  // a valid S3 record of 514 characters
  const std::string too_long = "Error: f.s28: line 1 is longer than 244 characters.";
  const std::string two = srec('2', 0x10, "ab") + srec('2', 0x12, "cd");
  const std::string rewritten =
      srec('2', 0x1000, std::string(16, '\xAA')) + srec('2', 0x5000, "xy") + srec('2', 0x1000, std::string(16, '\xBB'));
  return {
      {"indented records", "  " + srec('2', 0x10, "ab") + "\t" + srec('2', 0x12, "cd") + kEnd, 0, 0, 0,
       "Verified 4 bytes."},
      {"a file cut short (no end record)", two, 3, 3, 3, "the file may be cut short."},
      {"a valid S3 record of 514 characters", record_514 + kEnd, 3, 3, 3, too_long},
      {"a record of 414 characters", record_414 + kEnd, 3, 3, 3, too_long},
      {"a later record rewrites an earlier one's addresses", rewritten + kEnd, 3, 0, 0, "Verified 18 bytes."},
      {"a byte-order mark before the first record", "\xEF\xBB\xBF" + two + kEnd, 0, 0, 0, "Verified 4 bytes."},
      {"CR LF line ends", "S206000010616226\r\nS206000012636420\r\n" + kEnd, 0, 0, 0, "Verified 4 bytes."},
      {"last line without a line feed", two + kEnd.substr(0, kEnd.size() - 1), 0, 0, 0, "Verified 4 bytes."},
      {"a checksum one off", "S206000010616227\n" + kEnd, 3, 3, 3,
       "Error: f.s28: line 1 has the checksum 27 but its bytes give 26."},
      {"a pair more than the count says", "S20500001061622600\n" + kEnd, 3, 3, 3,
       "Error: f.s28: line 1 holds more than its count says."},
  };
}

TEST(VerifyAgreesWithTheLoad, OneFileOneImage) {
  for (const auto& c : agreement_cases()) {
    TempDir dir;
    dir.write("f.s28", c.file);
    MemoryBoard load_board, command_board, fresh_board;
    for (MemoryBoard* b : {&load_board, &command_board}) b->scripted[kEnd] = "%*";
    LoaderRun load = run_loader({"@load<f.s28"}, load_board.board);
    LoaderRun command = run_loader({"f.s28"}, command_board.board);
    MemoryBoard& read_back = c.load_code == 0 ? load_board : c.command_code == 0 ? command_board : fresh_board;
    LoaderRun verify = run_loader({"@verify<f.s28"}, read_back.board);
    EXPECT_EQ(load.code, c.load_code) << c.edge << "\n" << log_of(load);
    EXPECT_EQ(command.code, c.command_code) << c.edge << "\n" << log_of(command);
    EXPECT_EQ(verify.code, c.verify_code) << c.edge << "\n" << log_of(verify);
    EXPECT_TRUE(printed(verify, c.verify_line)) << c.edge << "\n" << log_of(verify);
  }
}

#ifdef _WIN32
constexpr char kFolderRefused[] = "Error: Can't open file dir.s28";  // a folder can't be opened as a file
#else
constexpr char kFolderRefused[] = "Error: Can't read file dir.s28";  // a folder opens; its read fails
#endif

TEST(VerifyAgreesWithTheLoad, FolderForAFileEndsBothWith3) {
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
      {"ranges read in address order",
       {{0x300, pattern(1)}, {0x100, pattern(1)}},
       {"R000100,01\n", "R000300,01\n"},
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
    dir.write("f.s28", file + kEnd);
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
  dir.write("f.s28", srec('1', 0x0020, "ab") + srec('3', 0x00012345, "cd") + kEnd);
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
TEST(VerifyFailures, NothingToCheckEndsWith9Or3) {
  const std::string no_format = " is no S-record, Intel HEX or ELF file (";
  const std::tuple<const char*, std::string, int, std::string> cases[] = {
      {"only comments", ";nothing here\n", 3, "Error: f.s28" + no_format + "it begins with 3B 6E 6F 74 68 69 6E 67); "},
      {"an empty file", "", 3, "Error: f.s28" + no_format + "it is empty); "},
      {"records of no data", srec('0', 0, "hdr") + kEnd, 9, "Error: No data record to verify in file f.s28"},
      {"a binary file", "\x89PNG\r\n\x1a\n", 3,
       "Error: f.s28" + no_format + "it begins with 89 50 4E 47 0D 0A 1A 0A); "},
  };
  for (const auto& [edge, text, code, line] : cases) {
    TempDir dir;
    dir.write("f.s28", text);
    MemoryBoard rb;
    LoaderRun run = run_loader({"@verify<f.s28"}, rb.board);
    EXPECT_EQ(run.code, code) << edge << "\n" << log_of(run);
    EXPECT_NE(run.stream.find(line), std::string::npos) << edge << "\n" << log_of(run);
    EXPECT_TRUE(rb.requests().empty()) << edge;
  }
}

// mprintf's %d shows five digits; a count of six must still show whole.
TEST(VerifyReads, CountOfSixDigitsShowsWhole) {
  TempDir dir;
  const std::string data = pattern(100000, 13);
  dir.write("f.s28", records(0x020000, data) + kEnd);
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
    dir.write("f.s28", records(0x1000, data) + kEnd);
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
  dir.write("f", srec('2', 0x10, "ab") + kEnd);
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
  dir.write("whole.s28", records(0x2000, data) + kEnd);
  dir.write("job.txt", "#fw.s28\n@verify<whole.s28\n");
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
  dir.write("f", srec('2', 0x10, "ab") + kEnd);
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
