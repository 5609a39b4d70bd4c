// Firmware files as text, pure: which format a file's first bytes show, and the two text formats read
// a line at a time into data records (protocol/image.h), every record checked before the image takes it.
//
// S-records (each line read by protocol/srecord.h, its checksum checked): S1/S2/S3 carry data; S0 is a
// header, read and checked but not placed; S5/S6 count the data records before them (a 2- or 3-byte count); S7/S8/S9
// end the file and give its start address, with no data.
//
// Intel HEX: ":", then pairs: the count of data bytes, a 2-byte offset, the type, the data, a checksum
// that makes the sum of all the line's bytes 0 modulo 256. Type 00 is data at the base plus the offset,
// ending within its 64 KiB segment (offset + count at most 10000h: readers differ on where the bytes of
// a record that runs past it go, so such a record is refused); 01 ends the file; 02 sets the base to a segment (times
// 16), 04 to the upper 16 bits of a linear address; 03 (CS:IP) and 05 (32 bits) give the start address.
//
// A file is whole only with its end: an S7/S8/S9 record (or, when it has none, a last S5/S6 record whose
// count matches, which is what some tools write by default), an Intel HEX 01 record. Nothing but blank
// lines may follow the end. A line may end in CR LF or LF and may carry trailing blanks; a UTF-8
// byte-order mark before a line (an editor's, or one left where two files were joined) is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/image.h"

namespace vx::image {

enum class Format { SRecords, IntelHex, Elf, Unknown };
const char* format_name(Format format);  // "S-records", "Intel HEX", "ELF", "unknown"

// The format a file's first bytes show (give at least its first 64 bytes where it has them): the ELF
// magic, or the first character after blanks, line ends and a byte-order mark: 'S' and a digit, or ':'.
Format detect_format(const std::uint8_t* head, std::size_t n);

// Where the records go; a refusal from it (the builder's) stops the reading.
using RecordSink = std::function<std::optional<Refusal>(const DataRecord&)>;

inline constexpr std::size_t kMaxRecordLine = 600;  // the longest record of either format is 524
// The longest S-record line, its blanks counted, its line end not: a command file's line holds at most
// this, and so that a file reads as one image whichever command takes it, "@load" and "@verify" refuse a
// longer S-record line too (the longest S2 record that fits holds 118 data bytes).
inline constexpr std::size_t kMaxSRecordLine = 244;
// What a refusal says of a line longer than that, the command file's and the firmware file's alike:
// "is longer than 244 characters".
std::string overlong_line_reason();

// Reads a text firmware file in pieces of any size: bytes in, data records out to the sink, refusal out.
class TextFirmwareReader {
 public:
  TextFirmwareReader(Format format, RecordSink sink) : format_(format), sink_(std::move(sink)) {}

  // The next bytes of the file. After a refusal, more bytes change nothing.
  std::optional<Refusal> feed(const std::uint8_t* bytes, std::size_t n);
  // At the end of the file: its last line, then the proof that it is whole.
  std::optional<Refusal> finish();
  // The start address the file gave, if any.
  std::optional<std::uint64_t> start() const { return start_; }

 private:
  std::optional<Refusal> take_line();
  std::optional<Refusal> srecord_line(std::string_view line);
  std::optional<Refusal> hex_line(const std::uint8_t* bytes, std::size_t n);
  std::optional<Refusal> refuse(Fault fault, std::string why) const;

  Format format_;
  RecordSink sink_;
  std::string line_;
  std::uint64_t line_number_ = 1;
  bool overlong_ = false;
  bool ended_ = false;    // the end record was read
  bool counted_ = false;  // the last record so far is a count record that matched
  std::uint64_t data_records_ = 0;
  std::uint64_t hex_base_ = 0;
  std::optional<std::uint64_t> start_;
  std::optional<Refusal> refusal_;
};

// An S-record line with three address bytes (S2 data, S8 end), with its checksum and a line feed: what
// a download sends as text, "S804010000FA\n".
std::string s2_line(char type, std::uint32_t address, const std::uint8_t* data, std::size_t n);

}  // namespace vx::image
