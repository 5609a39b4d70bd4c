// binwrite and gethb on arbitrary lines, against an instant board that decodes every block with the
// simulator's decoder.
//
// Input: lines (at most 245 characters, as the interpreter reads them), each handed to binwrite in
// turn; the first two bytes also go to gethb alone.
//
// Invariants, from a reading of each line by the record grammar (fuzz/record_model.h):
//   - a line fails with exit code 3 and "Bad format" exactly when the grammar refuses it;
//   - when every line was taken, the board's memory after the last block equals the records' bytes,
//     later records over earlier ones: nothing lost, nothing added, nothing moved;
//   - when a line failed, every byte the board holds is one a record put at that address (the blocks
//     completed before the failure stay written, as documented, but nothing else).
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console/finish.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/record_model.h"
#include "fuzz/sparse_board.h"
#include "loader/lines.h"
#include "loader/loader.h"

namespace {

using vx::fuzz::Bytes;
using vx::fuzz::require;

using vx::fuzz::pair_at;
using vx::fuzz::read_record;
using vx::fuzz::RecordReading;

constexpr std::size_t kMaxLine = vx::kMaxFileLine;
constexpr int kBadFormatExit = vx::exit_status(vx::ExitCode::FileFailed);

std::vector<std::string> lines_of(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  std::string cur;
  for (std::size_t i = 0; i < size; ++i) {
    cur.push_back(static_cast<char>(data[i]));
    if (data[i] == '\n' || cur.size() == kMaxLine) {
      lines.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  // The loader sees a line up to its first zero byte. binwrite is handed the lines that begin with "S2"
  // or "S8": an S8 line goes out whole, where a '~' would send it without awaiting the answer and an 's'
  // or 'n' would be taken for a block; any other type is not the download's to pack.
  for (auto& line : lines) {
    line = std::string(line.c_str());
    if (!line.empty()) line[0] = 'S';
    if (line.size() > 1 && line[1] != '8') line[1] = '2';
  }
  return lines;
}

void check_gethb(const std::uint8_t* data, std::size_t size) {
  const std::string pair = std::string(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 2)).c_str();
  unsigned value = 0;
  const auto code = vx::fuzz::exit_code_of([&] { value = vx::gethb(pair.c_str()); });
  const auto expected = pair_at(pair, 0);
  if (expected)
    require(!code && value == *expected, "gethb misread '" + pair + "'");
  else
    require(code == kBadFormatExit, "gethb took '" + pair + "'");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vx::fuzz::SparseBoard board;
  std::string console;
  vx::fuzz::fresh_loader_on(
      [&board](const Bytes& request) {
        const std::string text = vx::fuzz::request_text(request);
        // Only blocks and S8 lines go out; the S8 line is confirmed whatever it holds.
        if (!text.empty() && (text[0] == 's' || text[0] == 'n')) return board.answer(request);
        return vx::fuzz::answer_frame("%*");
      },
      console);
  check_gethb(data, size);

  std::map<std::uint32_t, std::uint8_t> expected;
  std::map<std::uint32_t, std::set<std::uint8_t>> ever;  // every value a record put at an address
  std::optional<int> code;
  for (const std::string& line : lines_of(data, size)) {
    console.clear();
    code = vx::fuzz::exit_code_of([&] { vx::binwrite(line.c_str(), vx::record::Place{"f.s28", 1}); });
    const RecordReading r = read_record(line);
    for (std::size_t i = 0; i < r.data.size(); ++i) {
      const std::uint32_t a = r.address + static_cast<std::uint32_t>(i);
      ever[a].insert(r.data[i]);
      if (r.valid) expected[a] = r.data[i];
    }
    if (code) {
      require(*code == kBadFormatExit && !r.valid && console.find("Bad format:") != std::string::npos,
              "line '" + line + "' ended with exit code " + std::to_string(*code) + ":\n" + console);
      break;
    }
    require(r.valid, "line '" + line + "' was taken but has no valid record");
  }

  if (!code) {
    require(!vx::fuzz::exit_code_of([] { vx::sendbin(); }), "the last block was refused");
    require(board.written() == expected, "the board's memory differs from the records");
  } else {
    for (const auto& [a, v] : board.written())
      require(ever.count(a) && ever[a].count(v), "the board holds a byte no record put there");
  }
  return 0;
}
