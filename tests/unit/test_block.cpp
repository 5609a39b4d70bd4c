// The block payload encoder on its own: CRC check values, the choice between run and mask encoding by
// the number of bit changes, and the exact payload bytes of the edge blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/block.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using test::Bytes;
using test::hex_string;

struct Block {
  std::uint8_t image[kBlockSize] = {};
  std::uint8_t mask[kMaskBytes] = {};
  void put(std::size_t i, std::uint8_t v) {
    image[i] = v;
    set_mask_bit(mask, i);
  }
  void put_range(std::size_t from, std::size_t to, std::uint8_t first = 0) {
    for (std::size_t i = from; i < to; ++i) put(i, static_cast<std::uint8_t>(first + i - from));
  }
};

TEST(BlockCrc, CheckValues) {
  struct Case {
    std::string text;
    std::uint16_t crc;
  } cases[] = {{"", 0x0000}, {"abc", 0x1D05}, {"123456789", 0x61C6}};
  for (const auto& c : cases)
    EXPECT_EQ(crc_b599(reinterpret_cast<const std::uint8_t*>(c.text.data()), c.text.size()), c.crc) << c.text;
}

std::vector<std::pair<std::size_t, std::size_t>> every_other_byte() {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t i = 0; i < kBlockSize; i += 2) runs.push_back({i, i + 1});
  return runs;
}

TEST(BlockEncoding, ChangesDecideTheLetter) {
  struct Case {
    const char* edge;
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // [from, to)
    int changes;
    char letter;
  } cases[] = {
      {"nothing pending", {}, 0, '\0'},
      {"first byte only", {{0, 1}}, 2, 's'},
      {"last byte only: the run never switches off", {{127, 128}}, 1, 's'},
      {"whole block", {{0, 128}}, 1, 's'},
      {"two runs one byte apart", {{10, 20}, {21, 30}}, 4, 'n'},
      {"run at start and run at end", {{0, 1}, {127, 128}}, 3, 'n'},
      {"every other byte", every_other_byte(), 128, 'n'},
  };
  for (const auto& c : cases) {
    Block blk;
    for (auto [from, to] : c.runs) blk.put_range(from, to);
    EXPECT_EQ(mask_changes(blk.mask), c.changes) << c.edge;
    EXPECT_EQ(encode_block(0x4000, blk.image, blk.mask).letter(), c.letter) << c.edge;
  }
}

TEST(BlockEncoding, FullBlockIsOneRunFromTheBase) {
  Block blk;
  blk.put_range(0, kBlockSize, 0x10);
  BlockPayload p = encode_block(0x012380, blk.image, blk.mask);
  ASSERT_EQ(p.size, kRunHeaderSize + kBlockSize + kCrcBytes);
  EXPECT_EQ(hex_string(Bytes(p.bytes.begin(), p.bytes.begin() + 5)), "73 80 23 01 80");
  EXPECT_EQ(p.bytes[5], 0x10);
  EXPECT_EQ(p.bytes[5 + 127], static_cast<std::uint8_t>(0x10 + 127));
}

TEST(BlockEncoding, LargestMaskBlockFillsThePayload) {
  Block blk;
  blk.put_range(0, 64);
  blk.put_range(65, kBlockSize);  // one hole: 127 bytes in two runs
  BlockPayload p = encode_block(0, blk.image, blk.mask);
  EXPECT_EQ(p.letter(), kMaskEncoding);
  EXPECT_EQ(p.size, kMaxPayload);
  // Frame: prefix 8 + payload + checksum and end byte = the largest block telegram, 159 bytes.
  EXPECT_EQ(8 + p.size + 2, 159u);
}

}  // namespace
}  // namespace vx
