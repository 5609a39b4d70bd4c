#include "board/telegrams.h"

#include <bit>

#include "protocol/block.h"
#include "protocol/hex.h"

namespace vx::board {

namespace {

constexpr std::size_t kCrcSize = 2;
constexpr std::size_t kPayloadAddressSize = 3;
constexpr std::size_t kRunHeader = 1 + kPayloadAddressSize + 1;            // letter, address, n
constexpr std::size_t kMaskHeader = 1 + kPayloadAddressSize + kMaskBytes;  // letter, base, mask
constexpr unsigned kByteBits = 8;
constexpr std::uint8_t kRecordSumMask = 0xFF;

// The number written by `digits` hex digits at `text`; false when one of them isn't a digit.
bool hex_number(std::string_view text, std::size_t digits, std::uint32_t& out) {
  if (text.size() < digits) return false;
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    int d = hex_digit(text[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  out = v;
  return true;
}

// Pairs of hex digits into bytes; false when a character isn't a digit (the caller checked the length).
// The board reads its pairs here on purpose and not through the loader's protocol/record.h: it stands
// for the other side of the line, so a fault in one decoder shows as a disagreement instead of hiding
// on both sides at once.
bool bytes_of_pairs(std::string_view text, Bytes& out) {
  out.clear();
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    std::uint32_t v;
    if (!hex_number(text.substr(i, 2), 2, v)) return false;
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

std::uint32_t little_endian(const std::uint8_t* p, std::size_t n) {
  std::uint32_t v = 0;
  for (std::size_t i = n; i-- > 0;) v = (v << kByteBits) | p[i];
  return v;
}

bool crc_holds(const std::uint8_t* payload, std::size_t n) {
  std::uint16_t sent = static_cast<std::uint16_t>(little_endian(payload + n - kCrcSize, kCrcSize));
  return crc_b599(payload, n - kCrcSize) == sent;
}

std::size_t record_address_size(char type) {
  switch (type) {
    case '0':
    case '1':
    case '5':
    case '9': return 2;
    case '2':
    case '6':
    case '8': return 3;
    case '3':
    case '7': return 4;
    default: return 0;  // S4 is reserved; anything else is no record
  }
}

std::string decode_run(const std::uint8_t* payload, std::size_t n, std::vector<ByteRun>& runs) {
  constexpr std::size_t kCountOffset = 1 + kPayloadAddressSize;
  if (n < kRunHeader + kCrcSize) return std::string(kShortBlock);
  if (!crc_holds(payload, n)) return std::string(kBadCrc);
  std::size_t count = payload[kCountOffset];
  if (count == 0 || count > kBlockSize) return std::string(kBadRunLength);
  if (n != kRunHeader + count + kCrcSize) return std::string(kBadBlockLength);
  std::uint32_t address = little_endian(payload + 1, kPayloadAddressSize);
  if ((address & ~kBlockAddressMask) + count > kBlockSize) return std::string(kRunLeavesBlock);
  const std::uint8_t* data = payload + kRunHeader;
  runs.push_back(ByteRun{address, Bytes(data, data + count)});
  return {};
}

std::string decode_mask(const std::uint8_t* payload, std::size_t n, std::vector<ByteRun>& runs) {
  if (n < kMaskHeader + kCrcSize) return std::string(kShortBlock);
  if (!crc_holds(payload, n)) return std::string(kBadCrc);
  std::uint32_t base = little_endian(payload + 1, kPayloadAddressSize);
  if (base & ~kBlockAddressMask) return std::string(kUnalignedBase);
  const std::uint8_t* mask = payload + 1 + kPayloadAddressSize;
  std::size_t present = 0;
  for (std::size_t i = 0; i < kMaskBytes; ++i) present += static_cast<std::size_t>(std::popcount(mask[i]));
  if (n != kMaskHeader + present + kCrcSize) return std::string(kBadBlockLength);
  // Consecutive present bytes become one run, so the board writes (and logs) runs, not single bytes.
  const std::uint8_t* data = payload + kMaskHeader;
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    if (!mask_bit(mask, i)) continue;
    bool continues = i > 0 && mask_bit(mask, i - 1) && !runs.empty();
    if (!continues) runs.push_back(ByteRun{base + static_cast<std::uint32_t>(i), {}});
    runs.back().bytes.push_back(*data++);
  }
  return {};
}

}  // namespace

std::string_view command_of(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

std::string parse_read(std::string_view command, ReadRequest& out) {
  constexpr std::size_t kCommaAt = 1 + kAddressDigits;
  constexpr std::size_t kSize = kCommaAt + 1 + kCountDigits;
  std::uint32_t address, count;
  if (command.size() != kSize || command[0] != kReadLetter || command[kCommaAt] != ',' ||
      !hex_number(command.substr(1), kAddressDigits, address) ||
      !hex_number(command.substr(kCommaAt + 1), kCountDigits, count))
    return std::string(kBadForm);
  if (count > kMaxReadCount) return std::string(kCountTooLarge);
  if (!Memory::in_range(address, count)) return std::string(kOutOfRange);
  out = ReadRequest{address, count};
  return {};
}

std::string read_answer(const Bytes& bytes) { return kAnswerData + hex_pairs(bytes.data(), bytes.size()); }

std::string parse_write(std::string_view command, WriteRequest& out) {
  constexpr std::size_t kArrowAt = 1 + kAddressDigits;
  std::uint32_t address;
  if (command.size() <= kArrowAt || command[0] != kWriteLetter || command[kArrowAt] != '<' ||
      !hex_number(command.substr(1), kAddressDigits, address))
    return std::string(kBadForm);
  std::string_view digits = command.substr(kArrowAt + 1);
  if (digits.size() % 2) return std::string(kOddDigits);
  Bytes data;
  if (!bytes_of_pairs(digits, data)) return std::string(kBadDigit);
  if (!Memory::in_range(address, data.size())) return std::string(kOutOfRange);
  out = WriteRequest{address, std::move(data)};
  return {};
}

std::string parse_record(std::string_view command, Record& out) {
  constexpr std::size_t kCountAt = 2;
  constexpr std::size_t kPairsAt = kCountAt + 2;
  if (command.size() < kPairsAt || command[0] != kRecordLetter) return std::string(kBadRecord);
  std::size_t address_size = record_address_size(command[1]);
  std::uint32_t count;
  if (address_size == 0 || !hex_number(command.substr(kCountAt), 2, count)) return std::string(kBadRecord);
  if (count < address_size + 1 || command.size() != kPairsAt + 2 * count) return std::string(kBadRecord);
  Bytes pairs;
  if (!bytes_of_pairs(command.substr(kPairsAt), pairs)) return std::string(kBadRecord);
  unsigned sum = count;
  for (std::size_t i = 0; i + 1 < pairs.size(); ++i) sum += pairs[i];
  Record r;
  r.type = command[1];
  for (std::size_t i = 0; i < address_size; ++i) r.address = (r.address << kByteBits) | pairs[i];
  r.data.assign(pairs.begin() + static_cast<std::ptrdiff_t>(address_size), pairs.end() - 1);
  r.checksum_ok = static_cast<std::uint8_t>(~sum & kRecordSumMask) == pairs.back();
  out = std::move(r);
  return {};
}

bool record_writes(char type) { return type == '1' || type == '2' || type == '3'; }
bool record_ends(char type) { return type == '7' || type == '8' || type == '9'; }

bool is_block_letter(std::uint8_t c) { return c == kRunEncoding || c == kMaskEncoding; }

std::string decode_block(const std::uint8_t* payload, std::size_t n, std::vector<ByteRun>& runs) {
  runs.clear();
  if (n == 0 || !is_block_letter(payload[0])) return std::string(kUnknownCommand);
  std::string refusal = payload[0] == kRunEncoding ? decode_run(payload, n, runs) : decode_mask(payload, n, runs);
  if (!refusal.empty()) runs.clear();
  return refusal;
}

}  // namespace vx::board
