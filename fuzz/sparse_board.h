// A board for the fuzz targets: the simulator's own telegram decoders over a sparse memory, so an input
// costs nothing for the 16 MiB it never touches, and a log of what was read and written for the targets
// to compare against what the loader reports.
//
// Every address holds a value that depends on it (not the erased 0xFF), so a read put at the wrong
// place in a file shows. A block the decoder refuses is a loader fault: the loader built it.
#pragma once

#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/telegrams.h"
#include "fuzz/fuzz_support.h"

namespace vx::fuzz {

class SparseBoard {
 public:
  struct Read {
    std::uint32_t address;
    Bytes bytes;
    std::string pairs;  // the digits as sent
  };
  struct Write {
    std::uint32_t address;
    Bytes bytes;
  };

  // After this many telegrams the board answers nothing ever again, which bounds every run.
  int silent_after = INT_MAX;

  static std::uint8_t background(std::uint32_t a) {
    return static_cast<std::uint8_t>((a * 151u) ^ (a >> 8) ^ (a >> 16));
  }
  std::uint8_t at(std::uint32_t a) const {
    auto it = memory_.find(a);
    return it == memory_.end() ? background(a) : it->second;
  }
  const std::map<std::uint32_t, std::uint8_t>& written() const { return memory_; }
  const std::vector<Read>& reads() const { return reads_; }
  const std::vector<Write>& writes() const { return writes_; }
  int telegrams() const { return telegrams_; }

  Bytes answer(const Bytes& request) {
    if (++telegrams_ > silent_after) return {};
    const std::string text = request_text(request);
    if (!text.empty() && board::is_block_letter(static_cast<std::uint8_t>(text[0]))) return answer_frame(block(text));
    const std::string_view command = board::command_of(text);
    if (command.starts_with("S8")) return answer_frame(board::kRecordEnd);
    if (command.starts_with("R")) return answer_frame(read(command));
    if (command.starts_with("W")) return answer_frame(write(command));
    return answer_frame(board::kUnknownCommand);
  }

 private:
  std::string block(const std::string& payload) {
    std::vector<board::ByteRun> runs;
    const std::string refusal =
        board::decode_block(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size(), runs);
    require(refusal.empty(), "the loader sent a block the board refuses: " + refusal);
    for (const auto& run : runs) store(run.address, run.bytes);
    return std::string(board::kDone);
  }

  std::string read(std::string_view command) {
    board::ReadRequest r;
    if (std::string refusal = board::parse_read(command, r); !refusal.empty()) return refusal;
    Bytes bytes;
    for (unsigned i = 0; i < r.count; ++i) bytes.push_back(at(r.address + i));
    std::string text = board::read_answer(bytes);
    reads_.push_back(Read{r.address, bytes, text.substr(1)});
    return text;
  }

  std::string write(std::string_view command) {
    board::WriteRequest w;
    if (std::string refusal = board::parse_write(command, w); !refusal.empty()) return refusal;
    store(w.address, w.data);
    writes_.push_back(Write{w.address, w.data});
    return std::string(board::kDone);
  }

  void store(std::uint32_t address, const Bytes& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) memory_[address + static_cast<std::uint32_t>(i)] = bytes[i];
  }

  std::map<std::uint32_t, std::uint8_t> memory_;
  std::vector<Read> reads_;
  std::vector<Write> writes_;
  int telegrams_ = 0;
};

}  // namespace vx::fuzz
