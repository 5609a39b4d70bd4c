#include "protocol/block.h"

namespace vx {

namespace {

constexpr std::uint16_t kCrcTopBit = 0x8000;
constexpr int kBitsPerByte = 8;
constexpr std::uint32_t kByteMask = 0xFF;

// Appends to a payload that was sized for the largest block; the bound check keeps a wrong caller
// from writing past it rather than trusting the arithmetic above.
class PayloadWriter {
 public:
  explicit PayloadWriter(BlockPayload& out) : out_(out) { out_.size = 0; }
  void byte(std::uint32_t v) {
    if (out_.size < out_.bytes.size()) out_.bytes[out_.size++] = static_cast<std::uint8_t>(v & kByteMask);
  }
  void address(std::uint32_t a) {
    for (std::size_t k = 0; k < kAddressBytes; ++k) byte(a >> (kBitsPerByte * k));
  }
  void crc() {
    std::uint16_t c = crc_b599(out_.bytes.data(), out_.size);
    byte(c);
    byte(c >> kBitsPerByte);
  }

 private:
  BlockPayload& out_;
};

std::size_t lowest_set_bit(const std::uint8_t* mask) {
  std::size_t i = 0;
  while (i < kBlockSize && !mask_bit(mask, i)) ++i;
  return i;
}

std::size_t run_length_from(const std::uint8_t* mask, std::size_t first) {
  std::size_t n = 0;
  while (first + n < kBlockSize && mask_bit(mask, first + n)) ++n;
  return n;
}

void encode_run(std::uint32_t base, const std::uint8_t* image, const std::uint8_t* mask, PayloadWriter& w) {
  std::size_t first = lowest_set_bit(mask);
  std::size_t n = run_length_from(mask, first);
  w.byte(static_cast<std::uint8_t>(kRunEncoding));
  w.address(base + static_cast<std::uint32_t>(first));
  w.byte(static_cast<std::uint32_t>(n));  // 128 goes out as 0x80
  for (std::size_t i = first; i < first + n; ++i) w.byte(image[i]);
}

void encode_mask(std::uint32_t base, const std::uint8_t* image, const std::uint8_t* mask, PayloadWriter& w) {
  w.byte(static_cast<std::uint8_t>(kMaskEncoding));
  w.address(base);
  for (std::size_t k = 0; k < kMaskBytes; ++k) w.byte(mask[k]);
  for (std::size_t i = 0; i < kBlockSize; ++i)
    if (mask_bit(mask, i)) w.byte(image[i]);
}

}  // namespace

std::uint16_t crc_b599(const std::uint8_t* data, std::size_t n) {
  std::uint16_t reg = 0;
  for (std::size_t i = 0; i < n; ++i) {
    reg = static_cast<std::uint16_t>(reg ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      bool out = reg & kCrcTopBit;
      reg = static_cast<std::uint16_t>(reg << 1);
      if (out) reg ^= kBlockCrcPolynomial;
    }
  }
  return reg;
}

bool mask_bit(const std::uint8_t* mask, std::size_t i) {
  return i < kBlockSize && ((mask[i / kBitsPerByte] >> (i % kBitsPerByte)) & 1u);
}

void set_mask_bit(std::uint8_t* mask, std::size_t i) {
  if (i < kBlockSize)
    mask[i / kBitsPerByte] = static_cast<std::uint8_t>(mask[i / kBitsPerByte] | (1u << (i % kBitsPerByte)));
}

bool mask_any(const std::uint8_t* mask) {
  for (std::size_t k = 0; k < kMaskBytes; ++k)
    if (mask[k]) return true;
  return false;
}

int mask_changes(const std::uint8_t* mask) {
  int changes = 0;
  bool before = false;
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    bool bit = mask_bit(mask, i);
    if (bit != before) ++changes;
    before = bit;
  }
  return changes;
}

BlockPayload encode_block(std::uint32_t base, const std::uint8_t* image, const std::uint8_t* mask) {
  BlockPayload out;
  if (!mask_any(mask)) return out;
  PayloadWriter w(out);
  if (mask_changes(mask) <= kMaxRunChanges)
    encode_run(base, image, mask, w);
  else
    encode_mask(base, image, mask, w);
  w.crc();
  return out;
}

}  // namespace vx
