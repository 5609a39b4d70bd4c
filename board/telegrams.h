// The telegrams the board understands, taken apart without touching the memory.
//
// Each parser returns the refusal the board answers for a malformed telegram, or an empty string when it
// filled its result. Refusals follow protocol/answer.h's rule, '?' for a form the board can't make out and
// '!' for what it understood and refuses; either makes the loader stop, which is what a broken request
// deserves.
//
//   read     "R" address(6 hex) "," count(2 hex)            answer "=" and count bytes as upper-case pairs
//   write    "W" address(6 hex) "<" pairs                    answer "*"
//   record   "S" type, count, address, data, checksum       S1/S2/S3 write their data; answers below
//   block    's' run or 'n' mask payload with the block CRC  answer "*"
//
// Command texts arrive with the line end the loader appends; command_of strips it (LF, or CR LF). Block
// payloads are binary and are never stripped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "board/memory.h"
#include "protocol/answer.h"
#include "protocol/frame.h"

namespace vx::board {

// Answer texts.
inline constexpr std::string_view kDone = answers::kAcceptedText;
inline constexpr std::string_view kRecordEnd = answers::kRecordsEnded;
inline constexpr std::string_view kUnknownCommand = "?unknown command";
inline constexpr std::string_view kBadForm = "?syntax";
inline constexpr std::string_view kBadDigit = "!bad hex digit";
inline constexpr std::string_view kOddDigits = "!odd number of digits";
inline constexpr std::string_view kOutOfRange = "!address out of range";
inline constexpr std::string_view kCountTooLarge = "!count too large";
inline constexpr std::string_view kShortBlock = "!short block";
inline constexpr std::string_view kBadCrc = "!bad CRC";
inline constexpr std::string_view kBadRunLength = "!bad run length";
inline constexpr std::string_view kRunLeavesBlock = "!run leaves its block";
inline constexpr std::string_view kBadBlockLength = "!bad block length";
inline constexpr std::string_view kUnalignedBase = "!block base not aligned";
inline constexpr std::string_view kBadRecord = "?bad record";

inline constexpr char kReadLetter = 'R';
inline constexpr char kWriteLetter = 'W';
inline constexpr char kRecordLetter = 'S';
inline constexpr char kAnswerData = answers::kData;
inline constexpr std::size_t kAddressDigits = 6;
inline constexpr std::size_t kCountDigits = 2;

// The longest answer text an answer frame carries, and so the most bytes one read telegram can ask for:
// '=' and two digits a byte.
inline constexpr std::size_t kMaxAnswerText = ft12::kMaxText;
inline constexpr unsigned kMaxReadCount = (kMaxAnswerText - 1) / 2;

std::string_view command_of(std::string_view text);

struct ReadRequest {
  std::uint32_t address = 0;
  unsigned count = 0;
};
std::string parse_read(std::string_view command, ReadRequest& out);
std::string read_answer(const Bytes& bytes);  // "=" and the pairs

struct WriteRequest {
  std::uint32_t address = 0;
  Bytes data;
};
std::string parse_write(std::string_view command, WriteRequest& out);

// A Motorola S-record sent as text. Its checksum is reported, not enforced: the loader sends the line as
// the file holds it, and a board that refused a wrong checksum would only hide the data it was given.
struct Record {
  char type = 0;
  std::uint32_t address = 0;
  Bytes data;
  bool checksum_ok = false;
};
std::string parse_record(std::string_view command, Record& out);
bool record_writes(char type);  // S1, S2, S3: data records
bool record_ends(char type);    // S7, S8, S9: termination records

// A block telegram's payload (from its letter to its CRC) as the runs of bytes it writes.
struct ByteRun {
  std::uint32_t address = 0;
  Bytes bytes;
};
std::string decode_block(const std::uint8_t* payload, std::size_t n, std::vector<ByteRun>& runs);
bool is_block_letter(std::uint8_t c);

}  // namespace vx::board
