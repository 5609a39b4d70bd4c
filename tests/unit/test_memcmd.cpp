// The memory commands against a scripted board with a small memory behind its R and W telegrams.
// Scripted answers (by exact request text) take precedence over the memory, for the bad-answer cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "console/finish.h"
#include "loader/run.h"
#include "loader/loader.h"
#include "serial/comdrv.h"
#include "tests/support/memory_board.h"

namespace vx::test {
namespace {

// --- commands refused before anything is sent ------------------------------------------------------

struct Refusal {
  const char* edge;
  const char* text;
  const char* error;
};

TEST(MemcmdSyntax, RefusedCommandsReturnTheirErrorText) {
  const Refusal cases[] = {
      {"word in capitals", "@BINGET000000,000010>x.bin", "Unknown command"},
      {"other word", "@bincmp000000,000010>x.bin", "Unknown command"},
      {"word cut short", "@binge", "Unknown command"},
      {"read with ';' for ','", "@binget000000;000010>x.bin", "Syntax error"},
      {"read with '<' for '>'", "@hexget000000,000010<x.bin", "Syntax error"},
      {"read of 22 characters", "@binget000000,000010>x", "Syntax error"},
      {"read word alone", "@hexget", "Syntax error"},
      {"write with '>' for '<'", "@binput000000>x.bin", "Syntax error"},
      {"write with a short address", "@binput00000<x.bin", "Syntax error"},
      {"write of 14 characters", "@binput000000<", "Syntax error"},
  };
  for (const auto& c : cases) {
    const char* got = zpracuj_prikaz(c.text);
    ASSERT_NE(got, nullptr) << c.edge;
    EXPECT_STREQ(got, c.error) << c.edge;
  }
}

TEST(MemcmdSyntax, RefusedCommandEndsTheRunWith9AndSendsNothing) {
  TempDir dir;
  MemoryBoard mb;
  LoaderRun run = run_loader({"@BINGET000000,000010>x.bin"}, mb.board);
  EXPECT_EQ(run.code, 9);
  EXPECT_TRUE(mb.requests().empty());
  EXPECT_FALSE(dir.exists("x.bin"));
}

// --- the telegrams a read sends --------------------------------------------------------------------

struct ReadCase {
  const char* edge;
  const char* command;
  std::vector<std::string> requests;
};

TEST(MemcmdReads, ChunksAndFields) {
  const ReadCase cases[] = {
      {"length one past a chunk", "@binget000000,000041>x.bin", {"R000000,40\n", "R000040,01\n"}},
      {"length of whole chunks", "@binget000100,000080>x.bin", {"R000100,40\n", "R000140,40\n"}},
      {"hex dump chunks of 16", "@hexget0000F8,000011>d.txt", {"R0000F8,10\n", "R000108,01\n"}},
      {"length zero", "@binget000000,000000>x.bin", {}},
      {"fields stop at a non-digit", "@binget00010G,00002Z>x.bin", {"R000010,02\n"}},
      {"fields with leading blanks", "@binget   010,    2 >x.bin", {"R000010,02\n"}},
      {"field with a 0x prefix", "@binget0x0010,000002>x.bin", {"R000010,02\n"}},
      {"lower-case digits", "@binget00abcd,000002>x.bin", {"R00ABCD,02\n"}},
      {"field without digits reads 0", "@binget------,000002>x.bin", {"R000000,02\n"}},
      {"last bytes of memory", "@bingetFFFFFE,000002>x.bin", {"RFFFFFE,02\n"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    MemoryBoard mb;
    LoaderRun run = run_loader({c.command}, mb.board);
    EXPECT_EQ(run.code, 0) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(mb.requests(), c.requests) << c.edge;
  }
}

// A telegram has six address digits: a range outside 000000..FFFFFF is refused before any telegram,
// and before the file is created.
struct OutsideCase {
  const char* edge;
  const char* command;
  const char* shown;
};

TEST(MemcmdRange, OutsideTheMemoryIsRefusedBeforeAnyTelegram) {
  const OutsideCase cases[] = {
      {"read ending one past the top", "@bingetFFFFC0,000041>x.bin", "FFFFC0,000041"},
      {"read of two chunks past the top", "@bingetFFFFC0,000080>x.bin", "FFFFC0,000080"},
      {"read of the longest length from the top", "@bingetFFFFFF,FFFFFF>x.bin", "FFFFFF,FFFFFF"},
      {"dump past the top", "@hexgetFFFFF8,000010>x.bin", "FFFFF8,000010"},
      {"read at a negative address", "@binget-00010,000010>x.bin", "-000010,000010"},
      {"dump at a negative address", "@hexget-FFFFF,000001>x.bin", "-0FFFFF,000001"},
      {"write at a negative address", "@binput-00040<x.bin", "-000040"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    MemoryBoard mb;
    LoaderRun run = run_loader({c.command}, mb.board);
    EXPECT_EQ(run.code, 9) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, std::string("Error: Range outside memory 000000-FFFFFF: ") + c.shown)) << c.edge << "\n"
                                                                                                     << log_of(run);
    EXPECT_TRUE(mb.requests().empty()) << c.edge;
    EXPECT_FALSE(dir.exists("x.bin")) << c.edge;
  }
}

TEST(MemcmdRange, TheLastBytesOfMemoryAreRead) {
  TempDir dir;
  MemoryBoard mb;
  LoaderRun run = run_loader({"@bingetFFFFC0,000040>x.bin"}, mb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_EQ(mb.requests(), std::vector<std::string>{"RFFFFC0,40\n"});
}

// Callers other than the command parser may pass any 32-bit range: its end must not wrap into range.
TEST(MemcmdRange, RangeEndingPastTheInt32RangeIsRefused) {
  TempDir dir;
  MemoryBoard mb;
  fresh_run();
  mb.board.install();
  ASSERT_EQ(zapni_UART(0x3F8, 4, 38400, 0), 0);
  int code = -1;
  try {
    binget(0x7FFFFFF0, 0x40, "x.bin");
  } catch (const RunEnded& e) {
    code = e.code;
  }
  comdrv_close();
  ScriptedBoard::uninstall();
  EXPECT_EQ(code, 9);
  EXPECT_TRUE(mb.requests().empty());
}

TEST(MemcmdReads, NegativeLengthSendsNothingAndReportsTheCount) {
  TempDir dir;
  MemoryBoard mb;
  LoaderRun run = run_loader({"@binget000000,-00002>x.bin"}, mb.board);
  EXPECT_TRUE(mb.requests().empty());
  EXPECT_EQ(run.code, 9);
  EXPECT_TRUE(has_line(run, "Error: Bad length (    0/   -2).")) << log_of(run);
  EXPECT_EQ(dir.read("x.bin"), "");
}

// --- what a read writes ----------------------------------------------------------------------------

TEST(MemcmdReads, BingetWritesTheBytesInAddressOrder) {
  TempDir dir;
  MemoryBoard mb;
  mb.load(0x012300, pattern(0x41));
  LoaderRun run = run_loader({"@binget012300,000041>x.bin"}, mb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_EQ(dir.read("x.bin"), pattern(0x41));
}

TEST(MemcmdReads, HexgetWritesOneLinePerTelegram) {
  TempDir dir;
  MemoryBoard mb;
  mb.load(0xF8, pattern(0x11, 1));
  LoaderRun run = run_loader({"@hexget0000F8,000011>d.txt"}, mb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_EQ(dir.read("d.txt"),
            "0000F8: 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 \n"
            "000108: 13 \n");
}

TEST(MemcmdReads, LengthZeroEmptiesAnExistingFile) {
  TempDir dir;
  dir.write("x.bin", "old content");
  MemoryBoard mb;
  LoaderRun run = run_loader({"@binget000000,000000>x.bin"}, mb.board);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(dir.read("x.bin"), "");
}

// An answer of another length than its chunk can't be placed at its addresses: the run ends at that
// chunk with exit code 9, and the file keeps the chunks before it (one byte short, then one long, used
// to pass with every later byte shifted).
// A hex dump is a text file: its lines end as the platform's text files do.
#ifdef _WIN32
constexpr char kDumpLineEnd[] = "\r\n";
#else
constexpr char kDumpLineEnd[] = "\n";
#endif

TEST(MemcmdReads, AnswerOfAnotherLengthEndsTheRunAtItsChunk) {
  const struct {
    const char* edge;
    const char* command;
    const char* request;  // the second chunk's
    std::size_t pairs;    // in its answer
    const char* line;
    std::string file;
  } cases[] = {
      {"raw chunk one byte short", "@binget000000,000100>o.bin", "R000040,40\n", 63, "Error: Bad length (   63/   64).",
       pattern(0x100).substr(0, 0x40)},
      {"raw chunk one byte long", "@binget000000,000100>o.bin", "R000040,40\n", 65, "Error: Bad length (   65/   64).",
       pattern(0x100).substr(0, 0x40)},
      {"dump line one byte short", "@hexget000000,000030>o.bin", "R000010,10\n", 15, "Error: Bad length (   15/   16).",
       "000000: " +
           [] {
             std::string line;
             for (unsigned char c : pattern(0x100).substr(0, 0x10)) {
               char pair[4];
               std::snprintf(pair, sizeof pair, "%02X ", c);
               line += pair;
             }
             return line;
           }() +
           kDumpLineEnd},
  };
  for (const auto& c : cases) {
    TempDir dir;
    MemoryBoard mb;
    mb.load(0, pattern(0x100));
    mb.scripted[c.request] = read_answer_of(pattern(0x100).substr(0x40, c.pairs));
    LoaderRun run = run_loader({c.command}, mb.board);
    EXPECT_EQ(run.code, 9) << c.edge;
    EXPECT_EQ(mb.requests().size(), 2u) << c.edge;
    EXPECT_TRUE(has_line(run, c.line)) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(dir.read("o.bin"), c.file) << c.edge;
  }
}

// --- a line that repeats every answer ---------------------------------------------------------------

// Every answer comes again 3 ms after itself. With the early end a repeat would stand for the next
// request's answer (reads shifted by a chunk, a refused write passed over): the run must not end with
// 0, and standard error must say why and name the full window, which reads such a line correctly.
TEST(MemcmdRepeatedAnswers, EndTheRunUnlessTheFullWindowReadsThem) {
  const struct {
    const char* edge;
    std::vector<std::string> args;
    bool full_window;
    int code;
  } cases[] = {
      {"binget, early end", {"@binget000000,000100>o.bin"}, false, 5},
      {"binget, full window", {"@binget000000,000100>o.bin"}, true, 0},
      {"binput with its 7th write refused", {"@binput000000<in.bin"}, false, 5},
      {"the run's last answer (identity)", {}, false, 5},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("in.bin", pattern(0x200));
    MemoryBoard mb;
    mb.load(0, pattern(0x100));
    mb.scripted["W000180<" + read_answer_of(pattern(0x200).substr(0x180, 0x40)).substr(1) + "\n"] = "!refused";
    auto answer = mb.board.handler;
    mb.board.handler = [answer](const Bytes& request) {
      std::vector<Chunk> chunks = answer(request);
      if (!chunks.empty()) chunks.push_back(Chunk{Millis(3), chunks.front().bytes});
      return chunks;
    };
    LinkSettings settings;
    settings.full_window = c.full_window;
    LoaderRun run = run_loader(c.args, mb.board, nullptr, settings);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << log_of(run);
    if (c.code == 0) {
      EXPECT_EQ(dir.read("o.bin"), pattern(0x100)) << c.edge;
      continue;
    }
    EXPECT_TRUE(has_line(run, "Error: Unrequested answer.")) << c.edge << "\n" << log_of(run);
    ASSERT_EQ(run.diagnostics.size(), 1u) << c.edge;
    EXPECT_NE(run.diagnostics[0].find("repeats answers"), std::string::npos) << run.diagnostics[0];
    EXPECT_NE(run.diagnostics[0].find("VEXAL_WINDOW=full"), std::string::npos) << run.diagnostics[0];
  }
}

// --- answers of the wrong form ---------------------------------------------------------------------

struct AnswerCase {
  const char* edge;
  const char* command;  // each reads or writes 2 bytes at 0: one telegram
  std::string answer;
  int code;
  const char* line;                 // expected in the log, or nullptr
  std::optional<std::string> file;  // expected content of the output file
};

TEST(MemcmdAnswers, FormAndPairRules) {
  const char* binget = "@binget000000,000002>o.bin";
  const char* hexget = "@hexget000000,000002>o.txt";
  const char* binput = "@binput000000<in.bin";
  const AnswerCase cases[] = {
      {"read refused", binget, "!", 7, "Error: Unexpected response: !", std::nullopt},
      {"read answered empty", binget, "", 7, "Error: Unexpected response:", std::nullopt},
      {"read answered without '='", binget, "1234", 7, "Error: Unexpected response: 1234", std::nullopt},
      {"'!' after '=' ends the data", binget, "=12!34", 9, "Error: Bad length (    1/    2).", ""},
      {"'?' after '=' is read as a digit", binget, "=12?3", 0, nullptr, std::string("\x12\0", 2)},
      {"lone last digit is a pair", binget, "=123", 0, nullptr, "\x12\x03"},
      {"byte from 0x80 ends the data", binget,
       "=12\x80"
       "34",
       9, "Error: Bad length (    1/    2).", ""},
      {"line end ends the data", binget, "=1234\n56", 0, nullptr, "\x12\x34"},
      {"'!' second in a pair ends the data", binget, "=1!23", 9, "Error: Bad length (    1/    2).", ""},
      {"fewer pairs than asked", binget, "=12", 9, "Error: Bad length (    1/    2).", ""},
      {"more pairs than asked", binget, "=123456", 9, "Error: Bad length (    3/    2).", ""},
      {"dump refuses '?' anywhere", hexget, "=12?3", 7, "Error: Unexpected response: =12?3", std::nullopt},
      {"dump refuses '!' at the end", hexget, "=1234!", 7, "Error: Unexpected response: =1234!", std::nullopt},
      {"dump keeps digits as received", hexget, "=0a1B", 0, nullptr, "000000: 0a 1B \n"},
      {"dump lone last digit", hexget, "=123", 0, nullptr, "000000: 12 3 \n"},
      {"dump keeps a line end out of its line", hexget, "=123\n", 0, nullptr, "000000: 12 3 \n"},
      {"write refused", binput, "!", 7, "Error: Unexpected response: !", std::nullopt},
      {"write answered OK", binput, "OK", 7, "Error: Unexpected response: OK", std::nullopt},
      {"write answered empty", binput, "", 7, "Error: Unexpected response:", std::nullopt},
      {"write accepted with more text", binput, "*done", 0, nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("in.bin", "\x01\x02");
    MemoryBoard mb;
    mb.scripted["R000000,02\n"] = c.answer;
    mb.scripted["W000000<0102\n"] = c.answer;
    LoaderRun run = run_loader({c.command}, mb.board);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(mb.requests().size(), 1u) << c.edge;
    if (c.line) {
      EXPECT_TRUE(has_line(run, c.line)) << c.edge << "\n" << log_of(run);
    }
    if (c.file) {
      EXPECT_EQ(dir.read(c.command[1] == 'h' ? "o.txt" : "o.bin"), *c.file) << c.edge;
    }
  }
}

// --- writes ----------------------------------------------------------------------------------------

TEST(MemcmdWrites, FileGoesOutInChunksOf64) {
  const std::size_t sizes[] = {0, 1, 63, 64, 65, 128, 200};
  for (std::size_t size : sizes) {
    TempDir dir;
    dir.write("in.bin", pattern(size));
    MemoryBoard mb;
    LoaderRun run = run_loader({"@binput012300<in.bin"}, mb.board);
    EXPECT_EQ(run.code, 0) << size << "\n" << log_of(run);
    EXPECT_EQ(mb.requests().size(), (size + 63) / 64) << size;
    EXPECT_EQ(mb.bytes_at(0x012300, size), pattern(size)) << size;
  }
}

TEST(MemcmdWrites, TelegramText) {
  TempDir dir;
  dir.write("in.bin", std::string("\x0A\x1B\x2C\xFF", 4));
  MemoryBoard mb;
  LoaderRun run = run_loader({"@binput012300<in.bin"}, mb.board);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(mb.requests(), std::vector<std::string>{"W012300<0A1B2CFF\n"});
}

struct FitCase {
  const char* edge;
  const char* command;
  std::size_t size;
  int code;
  std::size_t requests;
};

TEST(MemcmdWrites, FileMustFitBelowTheTopOfMemory) {
  const FitCase cases[] = {
      {"one chunk ending at the top", "@binputFFFFC0<in.bin", 64, 0, 1},
      {"last byte of memory", "@binputFFFFFF<in.bin", 1, 0, 1},
      {"empty file at the last address", "@binputFFFFFF<in.bin", 0, 0, 0},
      {"one byte past the top", "@binputFFFFFF<in.bin", 2, 9, 0},
      {"chunk and a half past the top", "@binputFFFFC0<in.bin", 100, 9, 0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("in.bin", pattern(c.size));
    MemoryBoard mb;
    LoaderRun run = run_loader({c.command}, mb.board);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(mb.requests().size(), c.requests) << c.edge;
    if (c.code == 9) {
      EXPECT_TRUE(has_line(run, "Error: File doesn't fit below address 1000000: in.bin")) << log_of(run);
    }
  }
}

// --- files -----------------------------------------------------------------------------------------

struct FileCase {
  const char* edge;
  const char* command;
  const char* line;
  std::size_t requests;
};

TEST(MemcmdFiles, FailuresEndWith3) {
  const FileCase cases[] = {
      {"read into a missing directory", "@binget000000,000002>no/such.bin", "Error: Can't open file no/such.bin", 0},
      {"write from a missing file", "@binput000000<missing.bin", "Error: Can't open file missing.bin", 0},
      {"write from a directory", "@binput000000<.", "Error: Can't read file .", 0},
      {"raw read onto a full disk", "@binget000000,000002>/dev/full", "Error: Can't write to file /dev/full", 1},
      {"dump onto a full disk", "@hexget000000,000002>/dev/full", "Error: Can't write to file /dev/full", 1},
  };
  for (const auto& c : cases) {
    TempDir dir;
    MemoryBoard mb;
    LoaderRun run = run_loader({c.command}, mb.board);
    EXPECT_EQ(run.code, 3) << c.edge << "\n" << log_of(run);
    EXPECT_TRUE(has_line(run, c.line)) << c.edge << "\n" << log_of(run);
    EXPECT_EQ(mb.requests().size(), c.requests) << c.edge;
  }
}

TEST(MemcmdFiles, LongNameIsTakenWhole) {
  TempDir dir;
  std::string name(100, 'n');
  MemoryBoard mb;
  mb.load(0, "\x12\x34");
  LoaderRun run = run_loader({"@binget000000,000002>" + name}, mb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_EQ(dir.read(name), "\x12\x34");
}

// --- from a command file ---------------------------------------------------------------------------

TEST(MemcmdCommandFile, NameEndsBeforeTheLineFeed) {
  TempDir dir;
  dir.write("in.bin", "\xAB\xCD");
  // The one-character name makes the read line exactly 23 characters with its line feed.
  dir.write("cmds.txt", "@binput000010<in.bin\n@binget000010,000002>x\n@hexget000010,000002>d.txt\n");
  MemoryBoard mb;
  LoaderRun run = run_loader({"cmds.txt"}, mb.board);
  EXPECT_EQ(run.code, 0) << log_of(run);
  EXPECT_EQ(mb.requests(), (std::vector<std::string>{"W000010<ABCD\n", "R000010,02\n", "R000010,02\n"}));
  EXPECT_EQ(dir.read("x"), "\xAB\xCD");
  EXPECT_EQ(dir.read("d.txt"), "000010: AB CD \n");
}

}  // namespace
}  // namespace vx::test
