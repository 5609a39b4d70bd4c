// The loader's line reader: what each read hands on, with its number, for the files both command files
// and "@verify" read. How the interpreter and @verify act on the lines is tested with them.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "loader/lines.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::TempDir;
using Lines = std::vector<std::pair<unsigned, std::string>>;

Lines lines_of(const std::string& content) {
  TempDir dir;
  dir.write("f.txt", content);
  LineReader reader("f.txt");
  EXPECT_EQ(reader.name(), "f.txt");
  Lines lines;
  LineReader::Line line;
  while (reader.next(line)) lines.emplace_back(line.number, std::string(line.text, line.length));
  return lines;
}

struct ReadCase {
  const char* edge;
  std::string content;
  Lines lines;
};

TEST(LineReader, LinesAndTheirNumbers) {
  const std::string piece(kMaxFileLine, 'P');
  const ReadCase cases[] = {
      {"empty file", "", {}},
      {"line feeds kept", "A\nB\n", {{1, "A\n"}, {2, "B\n"}}},
      {"last line without a line feed", "A\nB", {{1, "A\n"}, {2, "B"}}},
      {"empty lines count", "\n\nC\n", {{1, "\n"}, {2, "\n"}, {3, "C\n"}}},
      {"CR LF reads as LF", "A\r\nB\r\n", {{1, "A\n"}, {2, "B\n"}}},
      {"a lone CR stays", "A\rB\n", {{1, "A\rB\n"}}},
      {"CR at the very end stays", "A\r", {{1, "A\r"}}},
      {"CR CR LF keeps the first CR", "A\r\r\n", {{1, "A\r\n"}}},
      {"Ctrl-Z ends the file", "A\n\x1A" "B\n", {{1, "A\n"}}},
      {"Ctrl-Z after a CR", "A\r\x1A" "B\n", {{1, "A\r"}}},
      {"zero bytes handed on", std::string("A\0B\n", 4), {{1, std::string("A\0B\n", 4)}}},
      {"245 with the line feed is one line", piece.substr(1) + "\n", {{1, piece.substr(1) + "\n"}}},
      {"246 with the line feed: the line feed alone", piece + "\n", {{1, piece}, {2, "\n"}}},
      {"a long line in pieces of 245", piece + piece + "xy\n", {{1, piece}, {2, piece}, {3, "xy\n"}}},
      {"CR LF across a piece's end", piece.substr(1) + "\r\nZ\n", {{1, piece.substr(1) + "\n"}, {2, "Z\n"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(lines_of(c.content), c.lines) << c.edge;
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

}  // namespace
}  // namespace vx
