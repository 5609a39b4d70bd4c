// The bad-input catalogue (docs/bad-input.md), the rows that run in-process: what a user gets wrong in a
// command file or a firmware file, what vexal answers, and what the board received meanwhile. The board
// answers unknown commands as the real one does, so a line that should never have gone out shows.
//
// Rows already held by the module tests are not repeated here (the catalogue names them).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::LoaderRun;
using test::ScriptedBoard;
using Texts = std::vector<std::string>;

constexpr char kUnknownCommand[] = "?unknown command";
constexpr char kS8[] = "S804000000FB\n";

// An S2 record line: "S2", count, address, data, checksum.
std::string record(unsigned address, const std::string& data) {
  std::string body;
  char pair[3];
  auto put = [&](unsigned byte) {
    std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
    body += pair;
  };
  unsigned sum = static_cast<unsigned>(data.size()) + 4;
  put(sum);
  for (int shift : {16, 8, 0}) {
    put(address >> shift);
    sum += (address >> shift) & 0xFF;
  }
  for (unsigned char c : data) {
    put(c);
    sum += c;
  }
  put(~sum);
  return "S2" + body + "\n";
}

// What the board received, one text per telegram: a block as "block", anything else as its text.
Texts received(const ScriptedBoard& board) {
  Texts out;
  for (const auto& frame : board.requests) {
    std::string text = ScriptedBoard::request_text(frame);
    out.push_back(!text.empty() && (text[0] == 's' || text[0] == 'n') ? "block" : text);
  }
  return out;
}

struct Row {
  const char* mistake;
  std::string file;
  int code;
  std::string message;
  Texts received;
};

void check_rows(const std::vector<Row>& rows) {
  for (const auto& row : rows) {
    test::TempDir dir;
    dir.write("job.txt", row.file);
    ScriptedBoard board;
    board.default_answer = kUnknownCommand;
    LoaderRun run = test::run_loader({"job.txt"}, board);
    EXPECT_EQ(run.code, row.code) << row.mistake << "\n" << run.stream;
    EXPECT_NE(run.stream.find(row.message), std::string::npos) << row.mistake << ": no '" << row.message << "' in\n"
                                                               << run.stream;
    EXPECT_EQ(received(board), row.received) << row.mistake;
  }
}

TEST(BadCommandFile, WhatTheBoardReceives) {
  // 124 data bytes make a record of 262 characters: more than a line holds.
  const std::string long_record = record(0x001000, std::string(124, '\x5A'));
  const std::string png = "\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR";
  const std::string elf = std::string(
                              "\x7f"
                              "ELF\x02\x01\x01\x00\x00\x00",
                              10) +
                          "\n\x03\x00>\x00";
  check_rows({
      {"a record longer than a line (245 characters): refused whole, nothing is sent",
       long_record + kS8,
       3,
       "Error: Line 1 of job.txt is longer than 244 characters.",
       {}},
      {"a firmware that begins with a byte-order mark: its first record is not lost",
       "\xEF\xBB\xBF" + record(0x000100, "\x01\x02") + kS8,
       0,
       "Loading completed with no errors.",
       {"block", kS8}},
      {"a long comment: skipped whole, its tail is no command",
       ";" + std::string(300, 'B') + "\n" + kS8,
       0,
       "Loading completed with no errors.",
       {kS8}},
      {"a long conditional line whose test is false: refused before its tail can go out",
       "?nomatch!" + std::string(240, ' ') + "W000000<00\n" + kS8,
       3,
       "Error: Line 1 of job.txt is longer than 244 characters.",
       {}},
      {"a zero byte in a command: refused before the line goes out",
       std::string("B\0W000000<00\n", 14) + kS8,
       3,
       "Error: Line 1 of job.txt holds a NUL byte.",
       {}},
      {"a binary file whose lines begin with bytes from 0x80 (an image): skipped as blank, Ctrl-Z ends it",
       png,
       0,
       "Loading completed with no errors.",
       {}},
      {"a binary file that begins with a printable byte (a program): its zero bytes end the run",
       elf,
       3,
       "Error: Line 1 of job.txt holds a NUL byte.",
       {}},
      {"padding of 0xFF bytes after the firmware: blank lines, the download completes",
       record(0x000100, "\x01\x02") + kS8 + std::string(40, '\xFF') + "\n" + std::string(300, '\xFF'),
       0,
       "Loading completed with no errors.",
       {"block", kS8}},
      {"a record broken in the middle of a firmware: the file is refused before its first block",
       record(0x000100, std::string(64, '\x11')) + record(0x000140, std::string(64, '\x22')) + "S2080001800102ZZ04\n" +
           kS8,
       3,
       "Bad format:ZZ04",
       {}},
      {"a record with a count below 4 after good ones: the good block is not sent either",
       record(0x000100, "\x01") + "S2030001FF\n" + kS8,
       3,
       "Bad format:030001FF",
       {}},
  });
}

}  // namespace
}  // namespace vx
