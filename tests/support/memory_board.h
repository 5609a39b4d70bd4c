// A scripted board with a memory behind its R and W telegrams, for the memory commands and "@verify".
//
// Requests are answered by exact text first (`scripted`, for the bad-answer cases), then by the rules:
// "R%06X,%02X\n" reads up to 0x40 bytes ('=' and digit pairs, '!' past the end of memory or over the
// limit), "W%06X<pairs\n" writes ('*', or '!' for an odd or out-of-range write), blocks ('s' or 'n'
// first) are accepted with '*', anything else gets '?'. Bytes never written read as `erased`.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/scripted_board.h"

namespace vx::test {

class MemoryBoard {
 public:
  ScriptedBoard board;
  std::map<std::string, std::string> scripted;  // request text -> answer text
  std::map<unsigned, std::uint8_t> mem;

  explicit MemoryBoard(std::uint8_t erased = 0);
  MemoryBoard(const MemoryBoard&) = delete;  // the board's handler points at this object
  MemoryBoard& operator=(const MemoryBoard&) = delete;

  void load(unsigned at, const std::string& bytes);
  std::string bytes_at(unsigned at, std::size_t n) const;
  std::vector<std::string> requests() const;  // the texts of every request received

 private:
  std::string answer(const std::string& text);
  std::string read(unsigned adr, unsigned n) const;
  std::string write(unsigned adr, const std::string& text);
  std::uint8_t at(unsigned adr) const;

  std::uint8_t erased_;
};

// A read telegram's answer: '=' and the bytes as upper-case digit pairs.
std::string read_answer_of(const std::string& bytes);

// n bytes of a repeating pattern that differs with the seed.
std::string pattern(std::size_t n, unsigned seed = 7);

bool has_line(const LoaderRun& run, const std::string& line);
std::string log_of(const LoaderRun& run);  // the log lines, each with its line feed

}  // namespace vx::test
