#include "tests/support/memory_board.h"

#include <algorithm>
#include <cstdio>

namespace vx::test {

MemoryBoard::MemoryBoard() : memory_board_(board::Settings{}) {
  board.handler = [this](const Bytes& request) {
    return board.answer_text(answer(ScriptedBoard::request_text(request)));
  };
}

void MemoryBoard::load(unsigned at, const std::string& bytes) {
  memory_board_.memory().write(at, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string MemoryBoard::bytes_at(unsigned adr, std::size_t n) const {
  Bytes out;
  if (!memory_board_.memory().read(adr, n, out)) return {};
  return std::string(out.begin(), out.end());
}

std::vector<std::string> MemoryBoard::requests() const {
  std::vector<std::string> texts;
  for (const auto& r : board.requests) texts.push_back(ScriptedBoard::request_text(r));
  return texts;
}

std::string MemoryBoard::answer(const std::string& text) {
  if (auto it = scripted.find(text); it != scripted.end()) return it->second;
  return memory_board_.answer(text).text;
}

std::string read_answer_of(const std::string& bytes) {
  std::string a = "=";
  char pair[3];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", c);
    a += pair;
  }
  return a;
}

std::string pattern(std::size_t n, unsigned seed) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>((i * seed + 3) & 0xFF));
  return s;
}

bool has_line(const LoaderRun& run, const std::string& line) {
  return std::find(run.log.begin(), run.log.end(), line) != run.log.end();
}

std::string log_of(const LoaderRun& run) {
  std::string s;
  for (const auto& l : run.log) s += l + "\n";
  return s;
}

}  // namespace vx::test
