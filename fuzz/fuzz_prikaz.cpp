// zpracuj_prikaz on arbitrary command texts, in a scratch folder, against an instant board that carries
// out reads and writes with the simulator's parsers over a sparse memory.
//
// Input, in sections separated by 0x1E: the content of the file "f" (for "@binput...<f" and
// "@verify<f"), then up to four command texts run one after the other until one ends the run. Names can't leave the
// scratch folder. The board falls silent after kTelegramBudget telegrams, so a read of 16 MiB ends soon (exit code 5)
// instead of sending a quarter of a million telegrams.
//
// Invariants: a command that is not run is refused with "Syntax error" or "Unknown command"; a run
// that fails ends with one of the memory commands' exit codes and its message; one that succeeds
// read contiguous ranges and its file holds exactly what the board sent ("@binget": the bytes,
// "@hexget": one dump line per telegram), or wrote the whole file, in order, to contiguous addresses,
// or ("@verify") found the board holding every byte the file's S2 and S8 records give.
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/record_model.h"
#include "fuzz/sparse_board.h"
#include "loader/loader.h"
#include "protocol/firmware.h"

namespace {

using vx::fuzz::require;
using vx::fuzz::SparseBoard;

constexpr int kTelegramBudget = 100;
constexpr std::size_t kMaxCommands = 4;
constexpr std::size_t kReadName = 21;
constexpr std::size_t kWriteName = 14;
constexpr std::size_t kVerifyName = 8;
constexpr std::size_t kMaxPlainLine = vx::image::kMaxSRecordLine;  // fits one read of a line, with its line feed

bool known_exit_code(int code) { return code == 3 || code == 5 || code == 7 || code == 9; }

std::string name_at(std::string_view text, std::size_t at) {
  std::string_view name = text.substr(std::min(at, text.size()));
  return std::string(name.substr(0, name.find('\n')));
}

std::string dump_line(const SparseBoard::Read& r) {
  char head[16];
  std::snprintf(head, sizeof head, "%06X: ", static_cast<unsigned>(r.address));
  std::string line = head;
  for (std::size_t i = 0; i < r.pairs.size(); i += 2) line += r.pairs.substr(i, 2) + " ";
  return line + "\n";
}

template <typename Item>
void require_contiguous(const std::vector<Item>& items, std::size_t from, const char* what) {
  for (std::size_t i = from + 1; i < items.size(); ++i)
    require(items[i].address == items[i - 1].address + items[i - 1].bytes.size(),
            std::string(what) + " telegrams are not contiguous");
}

void check_read(const SparseBoard& board, std::size_t from, const std::string& name, bool dump) {
  require_contiguous(board.reads(), from, "read");
  std::string expected;
  for (std::size_t i = from; i < board.reads().size(); ++i) {
    const auto& r = board.reads()[i];
    expected += dump ? dump_line(r) : std::string(r.bytes.begin(), r.bytes.end());
  }
  require(vx::fuzz::ScratchDir::read(name) == expected, "the file '" + name + "' differs from what the board sent");
}

void check_write(const SparseBoard& board, std::size_t from, const std::string& name) {
  require_contiguous(board.writes(), from, "write");
  std::string sent;
  for (std::size_t i = from; i < board.writes().size(); ++i)
    sent.append(board.writes()[i].bytes.begin(), board.writes()[i].bytes.end());
  require(vx::fuzz::ScratchDir::read(name) == sent, "the board did not get the file '" + name + "' as it is");
}

// The bytes a verified file's S2 and S8 records give, later records over earlier ones (every one of them
// must be valid, or the verify should have failed); nothing when the file is not plain lines (a Ctrl-Z, a carriage
// return, a zero byte or a line in pieces would need the text-mode reading restated here, which the interpreter's own
// tests cover).
std::optional<std::map<std::uint32_t, std::uint8_t>> records_image(const std::string& text) {
  if (text.find_first_of(std::string("\r\x1a\0", 3)) != std::string::npos) return std::nullopt;
  std::map<std::uint32_t, std::uint8_t> image;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(begin, end - begin);
    begin = end;
    if (line.size() > kMaxPlainLine) return std::nullopt;
    if (!line.starts_with("S2") && !line.starts_with("S8")) continue;
    const auto r = vx::fuzz::read_record(line);
    require(r.valid, "verified a file with a bad record: " + line);
    for (std::size_t i = 0; i < r.data.size(); ++i) image[r.address + static_cast<std::uint32_t>(i)] = r.data[i];
  }
  return image;
}

void check_verify(const SparseBoard& board, const std::string& name) {
  const auto text = vx::fuzz::ScratchDir::read(name);
  require(text.has_value(), "verified a file that can't be read: " + name);
  const auto image = records_image(*text);
  if (!image) return;
  for (const auto& [address, value] : *image)
    require(board.at(address) == value, "verified, but the board differs at " + std::to_string(address));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = vx::fuzz::sections(data, size);
  const vx::fuzz::ScratchDir scratch;
  vx::fuzz::ScratchDir::write("f", parts[0]);

  SparseBoard board;
  board.silent_after = kTelegramBudget;
  std::string console;
  vx::fuzz::fresh_loader_on([&board](const vx::fuzz::Bytes& request) { return board.answer(request); }, console);

  for (std::size_t k = 1; k < parts.size() && k <= kMaxCommands; ++k) {
    const std::string command = vx::fuzz::confined(parts[k]);
    const std::string_view text(command.c_str());  // the loader sees it up to its first zero byte
    const std::size_t reads_before = board.reads().size();
    const std::size_t writes_before = board.writes().size();
    const char* refusal = nullptr;
    const auto code = vx::fuzz::exit_code_of([&] { refusal = vx::zpracuj_prikaz(command.c_str()); });
    if (code) {
      require(known_exit_code(*code) && vx::fuzz::reports_a_failure(console),
              "'" + command + "' ended with exit code " + std::to_string(*code) + ":\n" + console);
      break;
    }
    if (refusal) {
      require(!std::strcmp(refusal, "Syntax error") || !std::strcmp(refusal, "Unknown command"),
              std::string("unexpected refusal ") + refusal);
      require(board.reads().size() == reads_before && board.writes().size() == writes_before,
              "a refused command reached the board");
      continue;
    }
    if (text.starts_with("@binput"))
      check_write(board, writes_before, name_at(text, kWriteName));
    else if (text.starts_with("@binget") || text.starts_with("@hexget"))
      check_read(board, reads_before, name_at(text, kReadName), text.starts_with("@hexget"));
    else if (text.starts_with("@verify"))
      check_verify(board, name_at(text, kVerifyName));
  }
  return 0;
}
