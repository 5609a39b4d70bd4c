// The VQ-3140 as its BIOS ZARVEN answers: one request text in, one answer text out, memory changed.
//
// A request's user data after the two tag bytes is looked up in this order:
//   1. the answer table (--answer TEXT=ANSWER), by the command text without its line end, so a test
//      can make any request, a built-in one too, answer what it needs;
//   2. block telegrams, by their first byte 's' or 'n' (binary, never stripped);
//   3. the identity query "I000000", read "R...", write "W...", S-records "S...";
//   4. anything else: "?unknown command".
// A BIOS older than 1.28 (old_bios) refuses block telegrams; S-records sent as text lines are written
// by either BIOS, since the newer one keeps the older one's commands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "board/memory.h"
#include "board/telegrams.h"

namespace vx::board {

inline constexpr std::string_view kIdentity = "VQ-3140 ZARVEN v1.28";
inline constexpr std::string_view kOldIdentity = "VQ-3140 ZARVEN v1.27";
inline constexpr std::string_view kIdentityQuery = "I000000";
inline constexpr std::string_view kNoBlocks = "!block telegrams not supported";

struct Settings {
  std::string identity;  // empty: the default of the BIOS version
  bool old_bios = false;
  std::map<std::string, std::string> answers;  // command text without its line end -> answer text
};

enum class Telegram { Table, Block, Identity, Read, Write, Record, Unknown };

struct Reply {
  std::string text;  // the answer text
  std::string note;  // what the board did, for the log
};

class Board {
 public:
  explicit Board(Settings settings);

  Telegram classify(std::string_view user_text) const;
  // Carries the request out and returns its answer.
  Reply answer(std::string_view user_text);

  Memory& memory() { return memory_; }
  const Memory& memory() const { return memory_; }
  const std::string& identity() const { return settings_.identity; }

 private:
  Reply answer_block(std::string_view payload);
  Reply answer_read(std::string_view command) const;
  Reply answer_write(std::string_view command);
  Reply answer_record(std::string_view command);

  Settings settings_;
  Memory memory_;
};

}  // namespace vx::board
