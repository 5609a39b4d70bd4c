// A scripted board with the simulator's board behind it (board/board.h), for the memory commands and
// "@verify": the same reads, writes, blocks and refusals as vq3140-sim, in the test process.
//
// Requests are answered by exact text first (`scripted`, for the bad-answer cases), then by the board.
// Bytes never written read as the real board's erased 0xFF.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/board.h"
#include "tests/support/scripted_board.h"

namespace vx::test {

class MemoryBoard {
 public:
  ScriptedBoard board;
  std::map<std::string, std::string> scripted;  // request text -> answer text

  MemoryBoard();
  MemoryBoard(const MemoryBoard&) = delete;  // the board's handler points at this object
  MemoryBoard& operator=(const MemoryBoard&) = delete;

  void load(unsigned at, const std::string& bytes);
  std::string bytes_at(unsigned at, std::size_t n) const;
  std::vector<std::string> requests() const;  // the texts of every request received

 private:
  std::string answer(const std::string& text);

  board::Board memory_board_;
};

// A read telegram's answer: '=' and the bytes as upper-case digit pairs.
std::string read_answer_of(const std::string& bytes);

// n bytes of a repeating pattern that differs with the seed.
std::string pattern(std::size_t n, unsigned seed = 7);

bool has_line(const LoaderRun& run, const std::string& line);
std::string log_of(const LoaderRun& run);  // the log lines, each with its line feed

}  // namespace vx::test
