// The loader's line reader: what each read hands on, with its number, for command files; and the one
// open it reads through (checked_file.h): the check pass, its digests, and a change found after it.
// How the interpreter acts on the lines is tested with it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/state.h"
#include "console/finish.h"
#include "loader/lines.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::TempDir;
using Lines = std::vector<std::pair<unsigned, std::string>>;

struct Read {
  Lines lines;       // the lines handed on
  int code = 0;      // the exit code of a refusal, 0 when the file was read to its end
  std::string said;  // the console's text, blanks run together
  bool operator==(const Read&) const = default;
};

std::string blanks_run_together(const std::string& text) {
  std::string out;
  for (char c : text)
    if (!(c == ' ' || c == '\n') || out.empty() || out.back() != ' ') out += (c == '\n' ? ' ' : c);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

Read read_of(const std::string& content) {
  TempDir dir;
  dir.write("f.txt", content);
  fresh_console();
  Read r;
  try {
    LineReader reader("f.txt");
    EXPECT_EQ(reader.name(), "f.txt");
    LineReader::Line line;
    while (reader.next(line)) r.lines.emplace_back(line.number, std::string(line.text, line.length));
  } catch (const RunEnded& e) {
    r.code = e.code;
  }
  const std::string said = blanks_run_together(console_snapshot().text);
  r.said = said.substr(0, said.find(" Exit code"));
  return r;
}

struct ReadCase {
  const char* edge;
  std::string content;
  Lines lines;
};

TEST(LineReader, LinesAndTheirNumbers) {
  const std::string piece(kMaxFileLine, 'P');
  const std::string bom = "\xEF\xBB\xBF";
  // 4095 bytes of lines, so a mark after them begins one byte before the reader's 4096-byte buffer ends.
  std::string across_buffer;
  Lines lines_across_buffer;
  for (unsigned n = 1; n <= 17; ++n) {
    const std::string line = std::string(n < 17 ? 240 : 238, 'L') + "\n";
    across_buffer += line;
    lines_across_buffer.emplace_back(n, line);
  }
  lines_across_buffer.emplace_back(18, "B\n");
  const ReadCase cases[] = {
      {"empty file", "", {}},
      {"line feeds kept", "A\nB\n", {{1, "A\n"}, {2, "B\n"}}},
      {"last line without a line feed", "A\nB", {{1, "A\n"}, {2, "B"}}},
      {"empty lines count", "\n\nC\n", {{1, "\n"}, {2, "\n"}, {3, "C\n"}}},
      {"CR LF reads as LF", "A\r\nB\r\n", {{1, "A\n"}, {2, "B\n"}}},
      {"a lone CR stays", "A\rB\n", {{1, "A\rB\n"}}},
      {"CR at the very end stays", "A\r", {{1, "A\r"}}},
      {"CR CR LF keeps the first CR", "A\r\r\n", {{1, "A\r\n"}}},
      {"Ctrl-Z ends the file",
       "A\n\x1A"
       "B\n",
       {{1, "A\n"}}},
      {"Ctrl-Z after a CR",
       "A\r\x1A"
       "B\n",
       {{1, "A\r"}}},
      {"244 and the line feed fill the buffer", piece.substr(1) + "\n", {{1, piece.substr(1) + "\n"}}},
      {"245 without a line feed end the file", piece, {{1, piece}}},
      {"CR LF across the buffer's end", piece.substr(1) + "\r\nZ\n", {{1, piece.substr(1) + "\n"}, {2, "Z\n"}}},
      {"a long comment is skipped whole",
       "A\n;" + piece + "\nZ\n",
       {{1, "A\n"}, {2, ";" + piece.substr(1)}, {3, "Z\n"}}},
      {"a long blank line is skipped whole", " " + piece + piece + "\nZ\n", {{1, " " + piece.substr(1)}, {2, "Z\n"}}},
      {"a byte-order mark at the start", bom + "S2\nB\n", {{1, "S2\n"}, {2, "B\n"}}},
      {"a byte-order mark alone", bom, {}},
      {"a byte-order mark at a later line's start", "A\n" + bom + "B\n", {{1, "A\n"}, {2, "B\n"}}},
      {"a byte-order mark after a long line",
       std::string(300, ';') + "\n" + bom + "B\n",
       {{1, std::string(kMaxFileLine, ';')}, {2, "B\n"}}},
      {"a byte-order mark across the read buffer's end", across_buffer + bom + "B\n", lines_across_buffer},
      {"a byte-order mark inside a line stays", "A" + bom + "\n", {{1, "A" + bom + "\n"}}},
      {"a byte-order mark after a lone CR stays", "A\r" + bom + "\n", {{1, "A\r" + bom + "\n"}}},
      {"part of a byte-order mark stays", bom.substr(0, 2) + "A\n", {{1, bom.substr(0, 2) + "A\n"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(read_of(c.content), (Read{c.lines, 0, ""})) << c.edge;
}

struct RefusedCase {
  const char* edge;
  std::string content;
  Lines before;  // handed on before the refusal
  const char* said;
};

TEST(LineReader, NoLineIsCutOrHalfRead) {
  const std::string piece(kMaxFileLine, 'P');
  const char* too_long = "Error: Line 2 of f.txt is longer than 244 characters.";
  const char* nul = "Error: Line 2 of f.txt holds a NUL byte.";
  const RefusedCase cases[] = {
      {"245 and the line feed", "A\n" + piece + "\n", {{1, "A\n"}}, too_long},
      {"246 and the line feed", "A\n" + piece + "x\n", {{1, "A\n"}}, too_long},
      {"246 without a line feed at the end", "A\n" + piece + "x", {{1, "A\n"}}, too_long},
      {"245 and CR LF", "A\n" + piece + "\r\n", {{1, "A\n"}}, too_long},
      {"a long S-record", "A\nS2" + piece + "\n", {{1, "A\n"}}, too_long},
      {"a zero byte inside", "A\nB" + std::string(1, '\0') + "C\n", {{1, "A\n"}}, nul},
      {"a zero byte first", "A\n" + std::string(1, '\0') + "C\n", {{1, "A\n"}}, nul},
      {"a zero byte before the line feed", "A\nB" + std::string(1, '\0') + "\n", {{1, "A\n"}}, nul},
      {"a zero byte on the last line", "A\nB" + std::string(1, '\0'), {{1, "A\n"}}, nul},
      {"a zero byte in a comment", "A\n;" + std::string(1, '\0') + "\n", {{1, "A\n"}}, nul},
      {"a zero byte in a long comment's tail", "A\n;" + piece + std::string(1, '\0') + "\n", {{1, "A\n"}}, nul},
  };
  for (const auto& c : cases) EXPECT_EQ(read_of(c.content), (Read{c.before, 3, c.said})) << c.edge;
}

// Past the end the reader stays at the end.
TEST(LineReader, EndIsFinal) {
  TempDir dir;
  dir.write("f.txt", "A");
  LineReader reader("f.txt");
  LineReader::Line line;
  ASSERT_TRUE(reader.next(line));
  EXPECT_FALSE(reader.next(line));
  EXPECT_FALSE(reader.next(line));
}

// --- one open, checked piece by piece ---------------------------------------------------------------

struct CheckedCase {
  const char* edge;
  std::string content;
  std::string rewritten;  // what the file holds after its check pass, in place
  bool changed;           // the run's reading must find the change
};

// The check pass reads the file whole; the run's reading after it hands on the same bytes, or ends the
// run at the first piece that no longer matches its check (exit code 3).
TEST(CheckedFile, TheRunReadsWhatTheCheckRead) {
  const std::string piece(kCheckedPiece, 'a');
  const CheckedCase cases[] = {
      {"an empty file", "", "", false},
      {"one piece exactly", piece, piece, false},
      {"a piece and a byte", piece + "b", piece + "b", false},
      {"a byte changed in the second piece", piece + "b", piece + "c", true},
      {"a byte changed in the first piece", piece + "b", "x" + piece.substr(1) + "b", true},
      {"grown past a whole piece", piece, piece + "more", true},
      {"cut short to a whole piece", piece + "b", piece, true},
      {"grown from nothing", "", "new", true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("f.txt", c.content);
    fresh_console();
    std::string read_back;
    int code = 0;
    try {
      CheckedFile file("f.txt");
      file.start_check();
      std::vector<std::uint8_t> bytes(1000);
      while (file.read(bytes.data(), bytes.size()) > 0) {
      }
      file.end_check();
      std::ofstream(dir.path() + "/f.txt", std::ios::binary | std::ios::in | std::ios::out)
          .write(c.rewritten.data(), static_cast<std::streamsize>(c.rewritten.size()));
      if (c.rewritten.size() < c.content.size())
        std::filesystem::resize_file(dir.path() + "/f.txt", c.rewritten.size());
      for (std::size_t n = 0; (n = file.read(bytes.data(), bytes.size())) > 0;)
        read_back.append(reinterpret_cast<const char*>(bytes.data()), n);
    } catch (const RunEnded& e) {
      code = e.code;
    }
    EXPECT_EQ(code, c.changed ? 3 : 0) << c.edge;
    if (c.changed)
      EXPECT_NE(console_snapshot().text.find("Error: File f.txt changed while it was being sent."), std::string::npos)
          << c.edge;
    else
      EXPECT_EQ(read_back, c.content) << c.edge;
  }
}

// The record carries the size and SHA-256 of what the check pass read (the standard's test vector),
// the bytes after a Ctrl-Z that a line reader stops at included; a file read once only has none.
TEST(CheckedFile, RecordIsOfTheBytesChecked) {
  TempDir dir;
  dir.write("abc.txt", "abc");
  dir.write("z.txt",
            "ab\x1A"
            "c");
  CheckedFile file("abc.txt");
  file.start_check();
  std::uint8_t bytes[8];
  EXPECT_EQ(file.read(bytes, sizeof bytes), 3u);
  file.end_check();
  const FileRecord record = file.record(FileRole::Command);
  EXPECT_EQ(record.size, 3);
  EXPECT_EQ(record.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  CheckedFile cut("z.txt");
  cut.start_check();
  LineReader reader(cut);
  LineReader::Line line;
  while (reader.next(line)) {
  }
  cut.end_check();
  EXPECT_EQ(cut.record(FileRole::Command).size, 4);
  CheckedFile unchecked("abc.txt");
  EXPECT_FALSE(unchecked.record(FileRole::Command).size);
}

}  // namespace
}  // namespace vx
