#include "board/board.h"

#include <cstdio>
#include <utility>

namespace vx::board {

namespace {

std::string at_address(std::uint32_t address, std::size_t n) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%zu bytes at %06X", n, static_cast<unsigned>(address));
  return buf;
}

const std::uint8_t* bytes_of(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

}  // namespace

Board::Board(Settings settings) : settings_(std::move(settings)) {
  if (settings_.identity.empty()) settings_.identity = settings_.old_bios ? kOldIdentity : kIdentity;
}

Telegram Board::classify(std::string_view user_text) const {
  std::string_view command = command_of(user_text);
  if (settings_.answers.count(std::string(command))) return Telegram::Table;
  if (user_text.empty()) return Telegram::Unknown;
  if (is_block_letter(static_cast<std::uint8_t>(user_text[0]))) return Telegram::Block;
  if (command == kIdentityQuery) return Telegram::Identity;
  if (command.empty()) return Telegram::Unknown;
  switch (command[0]) {
    case kReadLetter: return Telegram::Read;
    case kWriteLetter: return Telegram::Write;
    case kRecordLetter: return Telegram::Record;
    default: return Telegram::Unknown;
  }
}

Reply Board::answer(std::string_view user_text) {
  std::string_view command = command_of(user_text);
  switch (classify(user_text)) {
    case Telegram::Table: return Reply{settings_.answers.at(std::string(command)), "from the answer table"};
    case Telegram::Block: return answer_block(user_text);
    case Telegram::Identity: return Reply{settings_.identity, "identity"};
    case Telegram::Read: return answer_read(command);
    case Telegram::Write: return answer_write(command);
    case Telegram::Record: return answer_record(command);
    case Telegram::Unknown: break;
  }
  return Reply{std::string(kUnknownCommand), "unknown command"};
}

Reply Board::answer_block(std::string_view payload) {
  if (settings_.old_bios) return Reply{std::string(kNoBlocks), "block refused: BIOS older than 1.28"};
  std::vector<ByteRun> runs;
  std::string refusal = decode_block(bytes_of(payload), payload.size(), runs);
  if (!refusal.empty()) return Reply{refusal, std::string("block '") + payload[0] + "' refused"};
  std::string note = std::string("block '") + payload[0] + "' wrote";
  for (const ByteRun& run : runs) {
    memory_.write(run.address, run.bytes);  // a decoded run lies inside its aligned block
    note += " " + at_address(run.address, run.bytes.size());
  }
  return Reply{std::string(kDone), note};
}

Reply Board::answer_read(std::string_view command) const {
  ReadRequest r;
  std::string refusal = parse_read(command, r);
  if (!refusal.empty()) return Reply{refusal, "read refused"};
  Bytes bytes;
  memory_.read(r.address, r.count, bytes);
  return Reply{read_answer(bytes), "read " + at_address(r.address, r.count)};
}

Reply Board::answer_write(std::string_view command) {
  WriteRequest w;
  std::string refusal = parse_write(command, w);
  if (!refusal.empty()) return Reply{refusal, "write refused"};
  memory_.write(w.address, w.data);
  return Reply{std::string(kDone), "wrote " + at_address(w.address, w.data.size())};
}

Reply Board::answer_record(std::string_view command) {
  Record r;
  std::string refusal = parse_record(command, r);
  if (!refusal.empty()) return Reply{refusal, "record refused"};
  std::string note = std::string("S") + r.type + " record";
  if (!r.checksum_ok) note += " (checksum wrong, ignored)";
  bool carries_data = (record_writes(r.type) || record_ends(r.type)) && !r.data.empty();
  if (carries_data) {
    if (!memory_.write(r.address, r.data)) return Reply{std::string(kOutOfRange), note + " refused"};
    note += " wrote " + at_address(r.address, r.data.size());
  }
  return Reply{std::string(record_ends(r.type) ? kRecordEnd : kDone), note};
}

}  // namespace vx::board
