// The command-file interpreter through the whole loader: every line kind, conditional chains,
// expected answers, nesting and the text-mode reading, against the scripted board.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "loader/loader.h"
#include "protocol/firmware.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::LoaderRun;
using test::ScriptedBoard;
using Texts = std::vector<std::string>;

Texts sent(const ScriptedBoard& board) {
  Texts out;
  for (const auto& f : board.requests) out.push_back(ScriptedBoard::request_text(f));
  return out;
}

bool has(const LoaderRun& run, const std::string& text) { return run.stream.find(text) != std::string::npos; }

struct Script {
  test::TempDir dir;
  ScriptedBoard board;
  Script() {
    board.answers["A\n"] = "xyz";
    board.answers["N\n"] = "no!";
  }
  LoaderRun run(const std::string& content, const std::string& name = "job.txt") {
    dir.write(name, content);
    return test::run_loader({name}, board);
  }
};

struct Case {
  const char* edge;
  std::string file;
  Texts sent;
  int code;
  std::string message = {};
};

void run_cases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    Script s;
    LoaderRun run = s.run(c.file);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << run.stream;
    EXPECT_EQ(sent(s.board), c.sent) << c.edge;
    if (!c.message.empty()) {
      EXPECT_TRUE(has(run, c.message)) << c.edge << ": no '" << c.message << "' in\n" << run.stream;
    }
  }
}

TEST(LineKinds, SkippedSentAndTested) {
  run_cases({
      {"comments, blank, indented and high-byte lines are skipped",
       "; note\n\n \tA\n\tA\n\xC3"
       "A\nB\n",
       {"B\n"},
       0},
      {"last line without line feed goes without one", "B\nC", {"B\n", "C"}, 0},
      {"S-records other than S2/S8 are raw commands",
       "S00600004844521B\nS9030000FC\n",
       {"S00600004844521B\n", "S9030000FC\n"},
       0},
      {"'~' awaits no answer and leaves the answer empty", "~B\n?OK!C\n?\?!D\n", {"B\n", "D\n"}, 0},
      {"negative answer ends with 6", "A\nN\n", {"A\n", "N\n"}, 6, "Error: Negative response."},
      {"empty file sends nothing", "", {}, 0, "\nLoading: job.txt"},
  });
}

TEST(LineKinds, NegativeAnswerIsSixFromAFileAndSevenFromTheCommandLine) {
  Script s;
  EXPECT_EQ(s.run("N\n").code, 6);
  Script t;
  EXPECT_EQ(test::run_loader({"N"}, t.board).code, 7);
}

TEST(LineKinds, MemoryCommandIsAnnouncedAndItsRefusalEndsWithNine) {
  Script s;
  LoaderRun run = s.run("@nonsense 1\n");
  EXPECT_EQ(run.code, 9);
  EXPECT_TRUE(has(run, "Executing:@nonsense 1"));
  EXPECT_TRUE(has(run, "Error: Unknown command"));
}

// The six lines of the worked example, against three boards.
TEST(WorkedExample, SixLines) {
  const std::string file =
      ";check the board\nI000000\n?READY!#update.txt\n??BUSY!I000000\n?!Board not ready\n"
      "!OK!Last command failed\n";
  struct Board {
    const char* identity;
    Texts sent;
    int code;
    const char* message;
  } boards[] = {
      {"READY", {"I000000\n", "U1\n"}, 0, "\nLoading: update.txt"},
      {"BUSY", {"I000000\n", "I000000\n"}, 7, "Error: Last command failed"},
      {"HALT", {"I000000\n"}, 7, "Error: Board not ready"},
  };
  for (const auto& b : boards) {
    Script s;
    s.board.identity = b.identity;
    s.dir.write("update.txt", "U1\n");
    LoaderRun run = s.run(file);
    EXPECT_EQ(run.code, b.code) << b.identity;
    EXPECT_EQ(sent(s.board), b.sent) << b.identity;
    EXPECT_TRUE(has(run, b.message)) << b.identity << "\n" << run.stream;
  }
}

// "A" is answered "xyz"; every other command "OK".
TEST(Conditionals, Chains) {
  run_cases({
      {"?? at the start acts as ?", "A\n??yz!B\n", {"A\n", "B\n"}, 0},
      {"?! at the start fails", "?!\n", {}, 7, "Error: No choice."},
      {"?! with a message", "A\n?q!B\n?!Nope\n", {"A\n"}, 7, "Error: Nope"},
      {"?! after a taken branch does nothing, other lines between", "A\n?x!B\nC\n?!fail\n", {"A\n", "B\n", "C\n"}, 0},
      {"else-if chain takes the first match only", "A\n?q!B\n??y!C\n??x!D\n?\?!E\n", {"A\n", "C\n"}, 0},
      {"?\?! is the else branch", "A\n?q!B\n?\?!C\n", {"A\n", "C\n"}, 0},
      {"nested test: both must match", "A\n?x!?y!B\n", {"A\n", "B\n"}, 0},
      {"nested test: outer match, inner miss clears lastcond", "A\n?x!?q!B\n?\?!C\n", {"A\n", "C\n"}, 0},
      {"empty action is the bare line feed", "A\n?xyz!\n", {"A\n", "\n"}, 0},
      {"empty action on a last line without line feed", "A\n?xyz!", {"A\n", ""}, 0},
      {"action beginning with ';' is sent", "A\n?x!;B\n", {"A\n", ";B\n"}, 0},
      {"test text may hold blanks", "A\n? !B\n?xy z!C\n", {"A\n"}, 0},
      {"action is an expected-answer test", "A\n?x!!q!Missing q\n", {"A\n"}, 7, "Error: Missing q"},
      {"action is an S-record", "A\n?x!S804000000FB\n", {"A\n", "S804000000FB\n"}, 0, "Flushing write buffer  OK"},
  });
}

TEST(Conditionals, BadSyntaxCountsEveryLine) {
  run_cases({
      {"test text without '!'", ";c\n\nA\n?xyz\n", {"A\n"}, 8, "line:    4 :?xyz"},
      {"tab in the test text", "A\n?x\tz!B\n", {"A\n"}, 8, "Error: Bad syntax:job.txt"},
      {"a lone '?' on a last line", "?", {}, 8, "line:    1 :?"},
  });
}

TEST(ExpectedAnswer, Forms) {
  run_cases({
      {"contained", "A\n!yz\n", {"A\n"}, 0},
      {"empty text is always contained", "A\n!\n", {"A\n"}, 0},
      {"missing, no message", "A\n!q\n", {"A\n"}, 7, "Error: Incorrect response."},
      {"missing, with message", "A\n!q!Wrong board\n", {"A\n"}, 7, "Error: Wrong board"},
      {"a tab ends the text", "A\n!yz\tq\n", {"A\n"}, 0},
      {"leaves lastcond alone", "A\n?q!B\n!xyz\n??xyz!C\n", {"A\n", "C\n"}, 0},
  });
}

TEST(NestedFiles, NamesAndState) {
  struct NestCase {
    const char* edge;
    std::string outer;
    std::string inner;
    Texts sent;
    int code;
  } cases[] = {
      {"text after the name is ignored", "#inner.txt and more\nB\n", "I\n", {"I\n", "B\n"}, 0},
      {"empty name fails to open", "# inner.txt\n", "I\n", {}, 3},
      {"the inner chain leaves the outer lastcond", "A\n?x!#inner.txt\n?\?!C\n", "?q!D\n", {"A\n"}, 0},
      {"the inner answers are seen outside", "#inner.txt\n!xyz\n", "A\n", {"A\n"}, 0},
      {"a missing nested file", "#absent.txt\n", "", {}, 3},
  };
  for (const auto& c : cases) {
    Script s;
    s.dir.write("inner.txt", c.inner);
    LoaderRun run = s.run(c.outer);
    EXPECT_EQ(run.code, c.code) << c.edge << "\n" << run.stream;
    EXPECT_EQ(sent(s.board), c.sent) << c.edge;
  }
}

TEST(NestedFiles, NamesResolveAgainstTheCurrentDirectory) {
  Script s;
  std::filesystem::create_directory(s.dir.path() + "/sub");
  s.dir.write("sub/outer.txt", "#inner.txt\n");
  s.dir.write("inner.txt", "I\n");
  EXPECT_EQ(test::run_loader({"sub/outer.txt"}, s.board).code, 0);
  EXPECT_EQ(sent(s.board), Texts{"I\n"});
}

TEST(NestedFiles, DepthLimit) {
  for (int depth : {kMaxNesting, kMaxNesting + 1}) {
    Script s;
    for (int k = 1; k < depth; ++k)
      s.dir.write("f" + std::to_string(k) + ".txt", "#f" + std::to_string(k + 1) + ".txt\n");
    s.dir.write("f" + std::to_string(depth) + ".txt", "D\n");
    LoaderRun run = test::run_loader({"f1.txt"}, s.board);
    if (depth <= kMaxNesting) {
      EXPECT_EQ(run.code, 0) << depth;
      EXPECT_EQ(sent(s.board), Texts{"D\n"});
    } else {
      EXPECT_EQ(run.code, 3) << depth;
      EXPECT_TRUE(has(run, "Error: Command files nested deeper than 64: f65.txt"));
      EXPECT_TRUE(sent(s.board).empty());
    }
  }
}

TEST(NestedFiles, SelfInclusionEndsCleanlyAndTheNextRunStartsAtDepthZero) {
  Script s;
  LoaderRun run = s.run("#self.txt\n", "self.txt");
  EXPECT_EQ(run.code, 3);
  EXPECT_TRUE(has(run, "Error: Command files nested deeper than 64: self.txt"));
  Script t;
  t.dir.write("one.txt", "O\n");
  EXPECT_EQ(t.run("#one.txt\n").code, 0);
}

TEST(TextMode, ReadsAsAWindowsTextModeRead) {
  run_cases({
      {"CR LF reads as LF", "B\r\nC\r\n", {"B\n", "C\n"}, 0},
      {"a lone CR stays", "B\rC\n", {"B\rC\n"}, 0},
      {"Ctrl-Z ends the file",
       "B\n\x1A"
       "C\n",
       {"B\n"},
       0},
      {"Ctrl-Z inside a line ends it there",
       "B\nC\x1A"
       "D\n",
       {"B\n", "C"},
       0},
      {"a byte-order mark before the first line",
       "\xEF\xBB\xBF"
       "B\nC\n",
       {"B\n", "C\n"},
       0},
      {"a long comment counts as one line", ";" + std::string(300, 'X') + "\n?q\n", {}, 8, "line:    2 :?q"},
      {"a zero byte ends the run before the file's first line",
       "B\nC" + std::string(1, '\0') + "D\nE\n",
       {},
       3,
       "Error: Line 2 of job.txt holds a NUL byte."},
  });
}

// Every kind of line at the lengths around the buffer (244 characters and the line feed fill it): at
// 244 the line is acted on as its kind says; longer, it is refused before any part of it is acted on,
// or, a comment, skipped whole. The line after it shows whether the run went on.
struct LengthCase {
  const char* kind;
  std::string head;  // filled up with 'x' to the length
  Texts sent_at_244;
  int code_at_244;
  std::string message_at_244;
};

TEST(TextMode, LinesAroundTheBufferSize) {
  const char* too_long = "Error: Line 1 of job.txt is longer than 244 characters.";
  const LengthCase cases[] = {
      {"comment", ";", {"Z\n"}, 0, "Loading completed"},
      {"raw command", "B", {"B" + std::string(243, 'x') + "\n", "Z\n"}, 0, "Loading completed"},
      {"expected answer", "!", {}, 7, "Error: Incorrect response."},
      {"conditional, its test false", "?nomatch!B", {"Z\n"}, 0, "Loading completed"},
      {"memory command", "@binget000000,000001>", {"R000000,01\n", "Z\n"}, 0, "Loading completed"},
      {"S-record", "S2", {}, 3, "Bad format:"},
      {"nested file", "#", {}, 3, "Error: Can't open file xxx"},
  };
  for (const auto& c : cases) {
    for (std::size_t length : {244u, 245u, 246u, 300u}) {
      Script s;
      s.board.answers["R000000,01\n"] = "=00";
      std::string line = c.head + std::string(length - c.head.size(), 'x');
      LoaderRun run = s.run(line + "\nZ\n");
      const std::string what = std::string(c.kind) + " of " + std::to_string(length);
      if (length == 244) {
        EXPECT_EQ(run.code, c.code_at_244) << what << "\n" << run.stream;
        EXPECT_EQ(sent(s.board), c.sent_at_244) << what;
        EXPECT_FALSE(has(run, too_long)) << what;
        EXPECT_TRUE(has(run, c.message_at_244)) << what << "\n" << run.stream;
      } else if (c.head == ";") {
        EXPECT_EQ(run.code, 0) << what << "\n" << run.stream;
        EXPECT_EQ(sent(s.board), Texts{"Z\n"}) << what;
      } else {
        EXPECT_EQ(run.code, 3) << what << "\n" << run.stream;
        EXPECT_TRUE(sent(s.board).empty()) << what;
        EXPECT_TRUE(has(run, too_long)) << what << "\n" << run.stream;
      }
    }
  }
}

TEST(Files, OpenAndReadFailures) {
  Script s;
  LoaderRun run = test::run_loader({"nofile.txt"}, s.board);
  EXPECT_EQ(run.code, 3);
  EXPECT_TRUE(has(run, "Error: Can't open file nofile.txt"));

  Script d;
  std::filesystem::create_directory(d.dir.path() + "/dir.txt");
  LoaderRun dir = test::run_loader({"dir.txt"}, d.board);
  EXPECT_EQ(dir.code, 3);
  EXPECT_TRUE(has(dir, "Error: Can't read file dir.txt"));
}

// --- one open per file ------------------------------------------------------------------------------

// A memory read whose output is a command file being read, under any name, would cut the job short
// under itself: refused before anything is sent, the file left as it was.
TEST(Files, AReadNeverWritesOverACommandFileBeingRead) {
  struct {
    const char* edge;
    const char* outer;
    const char* inner;
    const char* error;  // empty: the read runs
  } cases[] = {
      {"the file's own name", "@binget000000,000040>job.txt\nI000000\n", "", "job.txt"},
      {"./ before the name", "@hexget000000,000010>./job.txt\nI000000\n", "", "./job.txt"},
      {"a nested file writing over the outer one", "#inner.txt\nI000000\n", "@binget000000,000040>job.txt\n",
       "job.txt"},
      {"a nested file writing over itself", "#inner.txt\n", "@binget000000,000040>inner.txt\nI000000\n", "inner.txt"},
#ifndef _WIN32
      {"a hard link to the file", "@binget000000,000040>link.txt\nI000000\n", "", "link.txt"},
#endif
      {"another file", "@binget000000,000040>other.bin\n", "", ""},
  };
  for (const auto& c : cases) {
    Script s;
    s.board.answers["R000000,40\n"] = "=" + std::string(128, '0');
    s.dir.write("inner.txt", c.inner);
    s.dir.write("job.txt", c.outer);
#ifndef _WIN32
    std::filesystem::create_hard_link(s.dir.path() + "/job.txt", s.dir.path() + "/link.txt");
#endif
    LoaderRun run = test::run_loader({"job.txt"}, s.board);
    if (*c.error == '\0') {
      EXPECT_EQ(run.code, 0) << c.edge << "\n" << run.stream;
      continue;
    }
    EXPECT_EQ(run.code, 3) << c.edge << "\n" << run.stream;
    EXPECT_TRUE(has(run, std::string("Error: Output file ") + c.error + " is a command file being read.")) << c.edge;
    EXPECT_TRUE(sent(s.board).empty()) << c.edge;
    EXPECT_EQ(s.dir.read("job.txt"), c.outer) << c.edge;
  }
}

// n S2 records of 32 bytes from `address` on, each byte `fill`, and the S8 record.
std::string records_of(std::size_t n, std::uint8_t fill) {
  std::string text;
  const std::vector<std::uint8_t> data(32, fill);
  for (std::size_t i = 0; i < n; ++i)
    text += image::s2_line('2', static_cast<std::uint32_t>(0x10000 + 32 * i), data.data(), data.size());
  return text + image::s2_line('8', 0, nullptr, 0);
}

// A build rewrites the firmware in place (the same file, the same length, other bytes) while the
// download runs: the run stops before a changed byte goes out, and says how far it had come.
TEST(Files, AFileRewrittenDuringItsDownloadEndsTheRun) {
  Script s;
  const std::string first = records_of(3000, 0x11), second = records_of(3000, 0x22);  // 230 KB: 4 pieces
  s.dir.write("job.txt", first);
  bool rewritten = false;
  s.board.handler = [&](const test::Bytes& request) {
    if (!rewritten) {
      std::fstream f(s.dir.path() + "/job.txt", std::ios::in | std::ios::out | std::ios::binary);
      f.write(second.data(), static_cast<std::streamsize>(second.size()));
      rewritten = true;
    }
    return s.board.answer_by_rules(request);
  };
  LoaderRun run = test::run_loader({"job.txt"}, s.board);
  EXPECT_EQ(run.code, 3) << run.stream;
  EXPECT_TRUE(has(run, "Error: File job.txt changed while it was being sent.")) << run.stream;
  ASSERT_EQ(run.diagnostics.size(), 1u);
  EXPECT_EQ(run.diagnostics[0].rfind("job.txt: its lines 1 to ", 0), 0u) << run.diagnostics[0];
  for (const std::string& text : sent(s.board)) EXPECT_EQ(text.find("S804"), std::string::npos) << "the S8 went out";
}

#ifndef _WIN32
// Another file renamed over the command file after vexal opened it: the file opened is the one checked
// and sent. Here it is the one that alone is refused (its count record disagrees).
TEST(Files, AFileRenamedOverTheOpenedOneChangesNothing) {
  Script s;
  const std::vector<std::uint8_t> data(32, 0x33);
  const std::string record = image::s2_line('2', 0x10000, data.data(), data.size());
  const std::string end = image::s2_line('8', 0, nullptr, 0);
  s.dir.write("job.txt", record + "S5030002FA\n" + end);  // counts 2 data records: 1 stands before it
  s.dir.write("good.txt", record + "S5030001FB\n" + end);
  bool renamed = false;
  auto rename_at_opening = [&](const std::string& stream) {
    if (renamed || !stream.ends_with("Loading: job.txt")) return;
    std::filesystem::rename(s.dir.path() + "/good.txt", s.dir.path() + "/job.txt");
    renamed = true;
  };
  LoaderRun run = test::run_loader({"job.txt"}, s.board, nullptr, {}, false, rename_at_opening);
  EXPECT_TRUE(renamed);
  EXPECT_EQ(run.code, 3) << run.stream;
  EXPECT_TRUE(has(run, "Error: Line 2 of job.txt counts 2 data records, the file holds 1 before it.")) << run.stream;
  EXPECT_TRUE(sent(s.board).empty());
}
#endif

}  // namespace
}  // namespace vx
