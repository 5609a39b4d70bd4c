#include "protocol/firmware.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "protocol/hex.h"
#include "protocol/record.h"
#include "protocol/srecord.h"

namespace vx::image {

namespace {

constexpr std::uint8_t kElfMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr char kHexMark = ':';
constexpr std::size_t kMaxLineBytes = kMaxRecordLine / 2;

constexpr char kHeaderType = '0';
constexpr bool is_data_type(char t) { return t == '1' || t == '2' || t == '3'; }
constexpr bool is_count_type(char t) { return t == '5' || t == '6'; }

// Intel HEX record types and fields.
constexpr std::uint8_t kHexData = 0x00;
constexpr std::uint8_t kHexEnd = 0x01;
constexpr std::uint8_t kHexSegmentBase = 0x02;
constexpr std::uint8_t kHexSegmentStart = 0x03;
constexpr std::uint8_t kHexLinearBase = 0x04;
constexpr std::uint8_t kHexLinearStart = 0x05;
constexpr std::size_t kHexOverhead = 5;  // count, two offset bytes, type, checksum
constexpr std::size_t kHexDataPos = 4;
constexpr unsigned kSegmentShift = 4;
constexpr unsigned kLinearShift = 16;
constexpr std::uint64_t kHexSegmentSize = 0x10000;  // what a record's 2-byte offset reaches

bool is_blank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

using record::hex_byte;

// The position of the first character from `begin` on that is neither a blank nor a byte-order mark.
std::size_t skip_marks_and_blanks(const std::uint8_t* text, std::size_t begin, std::size_t end) {
  while (true) {
    if (record::starts_with_byte_order_mark(text + begin, end - begin))
      begin += sizeof record::kByteOrderMark;
    else if (begin < end && is_blank(text[begin]))
      ++begin;
    else
      return begin;
  }
}

// The pairs from text[0] on, into out; false at a character that is no digit or an odd digit count.
bool decode_pairs(const std::uint8_t* text, std::size_t n, std::array<std::uint8_t, kMaxLineBytes>& out,
                  std::size_t& got) {
  if (n % 2 != 0 || n / 2 > out.size()) return false;
  for (got = 0; got < n / 2; ++got) {
    const int pair = record::pair_at(reinterpret_cast<const char*>(text) + 2 * got);
    if (pair < 0) return false;
    out[got] = static_cast<std::uint8_t>(pair);
  }
  return true;
}

std::uint64_t big_endian(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// Readers differ on a data record that runs past the end of its 64 KiB segment: some wrap its last
// bytes to the segment's start, some go on into the next segment. Neither reading may be guessed for
// firmware, and the tools that write Intel HEX never split a record so.
std::string segment_overrun(std::uint64_t offset, std::size_t size) {
  const std::uint64_t past = offset + size - kHexSegmentSize;
  return "runs " + std::to_string(past) + " bytes past the end of its 64 KiB segment (offset " +
         hex_byte(static_cast<std::uint8_t>(offset >> 8)) + hex_byte(static_cast<std::uint8_t>(offset)) + " with " +
         std::to_string(size) + " data bytes): readers differ on where those bytes go";
}

unsigned byte_sum(const std::uint8_t* p, std::size_t n) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += p[i];
  return sum;
}

}  // namespace

const char* format_name(Format format) {
  switch (format) {
    case Format::SRecords: return "S-records";
    case Format::IntelHex: return "Intel HEX";
    case Format::Elf: return "ELF";
    case Format::Unknown: break;
  }
  return "unknown";
}

Format detect_format(const std::uint8_t* head, std::size_t n) {
  if (n >= sizeof kElfMagic && std::memcmp(head, kElfMagic, sizeof kElfMagic) == 0) return Format::Elf;
  const std::size_t i = skip_marks_and_blanks(head, 0, n);
  if (i < n && head[i] == kHexMark) return Format::IntelHex;
  if (i + 1 < n && head[i] == record::kMark && head[i + 1] >= '0' && head[i + 1] <= '9') return Format::SRecords;
  return Format::Unknown;
}

std::optional<Refusal> TextFirmwareReader::feed(const std::uint8_t* bytes, std::size_t n) {
  const std::uint8_t* end = bytes + n;
  for (const std::uint8_t* p = bytes; p < end && !refusal_;) {
    const auto* line_end = static_cast<const std::uint8_t*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const std::uint8_t* piece_end = line_end ? line_end : end;
    // Only the first kMaxRecordLine characters are kept: more makes the line too long, whatever it holds.
    const std::size_t room = kMaxRecordLine - line_.size();
    const auto piece = static_cast<std::size_t>(piece_end - p);
    line_.append(reinterpret_cast<const char*>(p), std::min(piece, room));
    if (piece > room) overlong_ = true;
    p = piece_end;
    if (!line_end) break;
    refusal_ = take_line();
    ++line_number_;
    ++p;
  }
  return refusal_;
}

std::optional<Refusal> TextFirmwareReader::finish() {
  if (!refusal_ && (!line_.empty() || overlong_)) refusal_ = take_line();
  if (refusal_) return refusal_;
  if (ended_ || (format_ == Format::SRecords && counted_)) return std::nullopt;
  if (format_ == Format::SRecords)
    return Refusal{Fault::NotWhole, Place{},
                   "the S-records end without an end record (S7, S8 or S9) or a count record (S5, S6) that "
                   "matches: the file may be cut short",
                   0};
  return Refusal{Fault::NotWhole, Place{},
                 "the Intel HEX records end without their end record (01): the file may be cut short", 0};
}

std::optional<Refusal> TextFirmwareReader::refuse(Fault fault, std::string why) const {
  return Refusal{fault, Place{Place::Kind::Line, line_number_}, std::move(why), 0};
}

std::optional<Refusal> TextFirmwareReader::take_line() {
  const auto* text = reinterpret_cast<const std::uint8_t*>(line_.data());
  std::size_t end = line_.size();
  const std::size_t begin = skip_marks_and_blanks(text, 0, end);
  while (end > begin && is_blank(text[end - 1])) --end;
  const bool overlong = overlong_;
  overlong_ = false;
  std::optional<Refusal> result;
  if (overlong)
    result = refuse(Fault::BadRecord, "is longer than " + std::to_string(kMaxRecordLine) + " characters");
  else if (begin == end)
    result = std::nullopt;
  else if (ended_)
    result = refuse(Fault::BadRecord, "follows the end record");
  else if (format_ == Format::SRecords)
    result = srecord_line(std::string_view(line_).substr(begin, end - begin));
  else
    result = text[begin] == kHexMark ? hex_line(text + begin + 1, end - begin - 1)
                                     : refuse(Fault::BadRecord, "is not an Intel HEX record");
  line_.clear();
  return result;
}

std::string overlong_line_reason() { return "is longer than " + std::to_string(kMaxSRecordLine) + " characters"; }

std::optional<Refusal> TextFirmwareReader::srecord_line(std::string_view line) {
  if (line.size() > kMaxSRecordLine) return refuse(Fault::BadRecord, overlong_line_reason());
  const srecord::Parsed parsed = srecord::parse_line(line);
  const srecord::Record& r = parsed.record;
  switch (parsed.fault) {
    case srecord::Fault::None: break;
    case srecord::Fault::NotARecord:
      return refuse(Fault::BadRecord,
                    parsed.bad_at == 0 ? "is not an S-record" : "is an S-record of a type no S-record file holds");
    case srecord::Fault::BadPair:
      return refuse(Fault::BadRecord, "lacks a hexadecimal pair at column " + std::to_string(parsed.bad_at + 1));
    case srecord::Fault::ShortCount:
      return refuse(Fault::BadRecord, "has a count too small for its address and checksum");
    case srecord::Fault::Checksum:
      return refuse(Fault::BadRecord, "has the checksum " + hex_byte(r.stated_checksum) + " but its bytes give " +
                                          hex_byte(r.computed_checksum));
    case srecord::Fault::TrailingText: return refuse(Fault::BadRecord, "holds more than its count says");
  }
  counted_ = false;
  if (r.type == kHeaderType) return std::nullopt;
  if (is_data_type(r.type)) {
    ++data_records_;
    return sink_(DataRecord{Place{Place::Kind::Line, line_number_}, r.address, r.data.data(), r.data_size});
  }
  if (r.data_size != 0) return refuse(Fault::BadRecord, "is a count or end record that holds data");
  if (is_count_type(r.type)) {
    if (r.address != data_records_)
      return refuse(Fault::NotWhole, "counts " + std::to_string(r.address) + " data records, but " +
                                         std::to_string(data_records_) + " come before it");
    counted_ = true;
    return std::nullopt;
  }
  ended_ = true;
  start_ = r.address;
  return std::nullopt;
}

std::optional<Refusal> TextFirmwareReader::hex_line(const std::uint8_t* pairs, std::size_t n) {
  std::array<std::uint8_t, kMaxLineBytes> b{};
  std::size_t got = 0;
  if (!decode_pairs(pairs, n, b, got)) return refuse(Fault::BadRecord, "holds something other than hexadecimal pairs");
  if (got < kHexOverhead || b[0] != got - kHexOverhead)
    return refuse(Fault::BadRecord, "has a count of " + std::to_string(got ? b[0] : 0) + " but " +
                                        std::to_string(got < kHexOverhead ? 0 : got - kHexOverhead) + " data bytes");
  const unsigned expected = (0x100u - (byte_sum(b.data(), got - 1) & 0xFFu)) & 0xFFu;
  if (b[got - 1] != expected)
    return refuse(Fault::BadRecord, "has the checksum " + hex_byte(b[got - 1]) + " but its bytes give " +
                                        hex_byte(static_cast<std::uint8_t>(expected)));
  const std::uint64_t offset = big_endian(b.data() + 1, 2);
  const std::uint8_t type = b[3];
  const std::uint8_t* data = b.data() + kHexDataPos;
  const std::size_t size = b[0];
  auto needs = [&](std::size_t bytes) {
    return size == bytes
               ? std::nullopt
               : refuse(Fault::BadRecord, "is a record of type " + hex_byte(type) + " with " + std::to_string(size) +
                                              " data bytes instead of " + std::to_string(bytes));
  };
  switch (type) {
    case kHexData:
      if (offset + size > kHexSegmentSize) return refuse(Fault::BadRecord, segment_overrun(offset, size));
      return sink_(DataRecord{Place{Place::Kind::Line, line_number_}, hex_base_ + offset, data, size});
    case kHexEnd: ended_ = true; return needs(0);
    case kHexSegmentBase:
    case kHexLinearBase:
      if (size != 2) return needs(2);
      hex_base_ = big_endian(data, size) << (type == kHexSegmentBase ? kSegmentShift : kLinearShift);
      return std::nullopt;
    case kHexSegmentStart:
    case kHexLinearStart:
      if (size != 4) return needs(4);
      start_ = type == kHexLinearStart ? big_endian(data, 4)
                                       : (big_endian(data, 2) << kSegmentShift) + big_endian(data + 2, 2);
      return std::nullopt;
    default:
      return refuse(Fault::BadRecord, "is a record of type " + hex_byte(type) + ", which Intel HEX does not have");
  }
}

std::string s2_line(char type, std::uint32_t address, const std::uint8_t* data, std::size_t n) {
  using record::kAddressBytes;
  std::array<std::uint8_t, 1 + kAddressBytes + kMaxLineBytes> bytes{};
  n = std::min(n, kMaxLineBytes - kAddressBytes - 2);
  bytes[0] = static_cast<std::uint8_t>(kAddressBytes + n + 1);
  for (std::size_t k = 0; k < kAddressBytes; ++k)
    bytes[1 + k] = static_cast<std::uint8_t>(address >> (8 * (kAddressBytes - 1 - k)));
  std::copy(data, data + n, bytes.begin() + 1 + kAddressBytes);
  const std::size_t size = 1 + kAddressBytes + n;
  bytes[size] = static_cast<std::uint8_t>(~byte_sum(bytes.data(), size) & 0xFFu);
  return std::string{record::kMark, type} + hex_pairs(bytes.data(), size + 1) + "\n";
}

}  // namespace vx::image
