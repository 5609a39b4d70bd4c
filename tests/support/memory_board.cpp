#include "tests/support/memory_board.h"

#include <algorithm>
#include <cstdio>

namespace vx::test {
namespace {
constexpr unsigned kMemoryEnd = 0x1000000;
constexpr unsigned kMaxRead = 0x40;
}  // namespace

MemoryBoard::MemoryBoard(std::uint8_t erased) : erased_(erased) {
  board.handler = [this](const Bytes& request) {
    return board.answer_text(answer(ScriptedBoard::request_text(request)));
  };
}

void MemoryBoard::load(unsigned at, const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) mem[at + static_cast<unsigned>(i)] = static_cast<std::uint8_t>(bytes[i]);
}

std::string MemoryBoard::bytes_at(unsigned adr, std::size_t n) const {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(at(adr + static_cast<unsigned>(i))));
  return s;
}

std::vector<std::string> MemoryBoard::requests() const {
  std::vector<std::string> texts;
  for (const auto& r : board.requests) texts.push_back(ScriptedBoard::request_text(r));
  return texts;
}

std::string MemoryBoard::answer(const std::string& text) {
  if (auto it = scripted.find(text); it != scripted.end()) return it->second;
  if (!text.empty() && (text[0] == 's' || text[0] == 'n')) return "*";
  unsigned adr = 0, n = 0;
  char sep = 0;
  if (std::sscanf(text.c_str(), "R%x,%x", &adr, &n) == 2) return read(adr, n);
  if (std::sscanf(text.c_str(), "W%x%c", &adr, &sep) == 2 && sep == '<') return write(adr, text);
  return "?";
}

std::string MemoryBoard::read(unsigned adr, unsigned n) const {
  if (n > kMaxRead || adr >= kMemoryEnd || kMemoryEnd - adr < n) return "!";
  return read_answer_of(bytes_at(adr, n));
}

std::string MemoryBoard::write(unsigned adr, const std::string& text) {
  std::string hex = text.substr(text.find('<') + 1);
  if (!hex.empty() && hex.back() == '\n') hex.pop_back();
  if (hex.size() % 2 || adr >= kMemoryEnd || kMemoryEnd - adr < hex.size() / 2) return "!";
  for (std::size_t i = 0; i < hex.size(); i += 2)
    mem[adr + static_cast<unsigned>(i / 2)] = static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16));
  return "*";
}

std::uint8_t MemoryBoard::at(unsigned adr) const {
  auto it = mem.find(adr);
  return it == mem.end() ? erased_ : it->second;
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
