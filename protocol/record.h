// The records module: what every reader of S-records, Intel HEX, command-file lines and memory answers
// shares, so no two of them can come to read a pair, a record's head or a file's first bytes differently.
//  - the pair decoder: two hexadecimal digits, high first, either case, into one byte;
//  - `hex_byte`: one byte as the two upper-case digits the messages quote;
//  - an S-record's head: the mark, the type at 1 and the count at 2, and the types the download packs
//    (S2 data, S8 end). A line is read whole by protocol/srecord.h; the loader reads the records it packs
//    and compares through loader/record_head.h, which refuses a bad record before anything of it is used;
//  - the UTF-8 byte-order mark an editor (or a join of two files) may leave before a line, which every
//    text reader skips.
// The simulator (board/) keeps a decoder of its own on purpose: it stands for the board, and a fault in
// this one must show as a disagreement between the two sides rather than hide on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/address.h"

namespace vx::record {

inline constexpr char kMark = 'S';
inline constexpr char kDataType = '2';
inline constexpr char kTerminationType = '8';
inline constexpr std::size_t kTypePos = 1;
inline constexpr std::size_t kCountPos = 2;
inline constexpr std::size_t kPairWidth = 2;
inline constexpr std::size_t kAddressBytes = 3;  // of an S2 or S8 record

inline constexpr std::uint8_t kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

// True when the zero-terminated `text` begins with the mark and the record type `type`: "S2" for '2'.
inline bool is_record(const char* text, char type) { return text[0] == kMark && text[kTypePos] == type; }

// The byte of the two digits, or -1 when either is no hexadecimal digit.
int pair_value(char high, char low);

// The byte of the pair at `pos`, or -1 when the pair is not two hexadecimal digits inside `text`.
int pair_at(std::string_view text, std::size_t pos);

// The byte of the pair at `p` in a zero-terminated text, or -1 as pair_value; the second character is
// read only when the first is a digit, so a pair cut by the text's end is never read past it.
int pair_at(const char* p);

// One byte as two upper-case digits: "0A".
std::string hex_byte(std::uint8_t b);

// True when the `n` bytes at `p` begin with the byte-order mark.
bool starts_with_byte_order_mark(const std::uint8_t* p, std::size_t n);

}  // namespace vx::record
