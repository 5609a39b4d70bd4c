// Block telegram payloads, pure: the block CRC and the two encodings of one 128-byte block.
//
//   's' run:  's', address of the first byte (3, low first), n (1..128, 128 as 0x80), n bytes, CRC
//   'n' mask: 'n', block base (3), the 16 mask bytes, the bytes present in ascending order, CRC
//
// Block CRC: polynomial 0xB599, initial 0, not reflected, no final XOR, appended low byte first, over
// the payload from the letter through the last data byte. "abc" gives 0x1D05, "123456789" 0x61C6.
//
// The encoding is picked by counting, over the 128 presence bits in address order and starting from
// a notional clear bit, the places where a bit differs from the one before: one run has at most two
// such changes, anything more needs the mask. encode_block is what sendbin sends; it touches no
// global state, so tests and the packing benchmark use it directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vx {

inline constexpr std::uint16_t kBlockCrcPolynomial = 0xB599;
inline constexpr std::size_t kBlockSize = 128;
inline constexpr std::size_t kMaskBytes = kBlockSize / 8;
inline constexpr std::uint32_t kBlockAddressMask = 0xFFFF80;
inline constexpr char kRunEncoding = 's';
inline constexpr char kMaskEncoding = 'n';

inline constexpr std::size_t kAddressBytes = 3;
inline constexpr std::size_t kCrcBytes = 2;
inline constexpr std::size_t kRunHeaderSize = 1 + kAddressBytes + 1;            // letter, address, n
inline constexpr std::size_t kMaskHeaderSize = 1 + kAddressBytes + kMaskBytes;  // letter, base, mask
inline constexpr int kMaxRunChanges = 2;  // a single run switches on once and off at most once
// A mask block holds at most 127 bytes: 128 present bytes are one run.
inline constexpr std::size_t kMaxPayload = kMaskHeaderSize + (kBlockSize - 1) + kCrcBytes;

std::uint16_t crc_b599(const std::uint8_t* data, std::size_t n);

// The presence mask: bit (i & 7) of byte (i >> 3) stands for byte i of the block.
bool mask_bit(const std::uint8_t* mask, std::size_t i);
void set_mask_bit(std::uint8_t* mask, std::size_t i);
bool mask_any(const std::uint8_t* mask);
int mask_changes(const std::uint8_t* mask);

struct BlockPayload {
  std::array<std::uint8_t, kMaxPayload> bytes{};
  std::size_t size = 0;  // 0: nothing was pending
  char letter() const { return size ? static_cast<char>(bytes[0]) : '\0'; }
};

// The payload, CRC included, for the block at `base` (a multiple of 128) with its image and mask.
BlockPayload encode_block(std::uint32_t base, const std::uint8_t* image, const std::uint8_t* mask);

}  // namespace vx
