#include "protocol/sha256.h"

#include <algorithm>
#include <bit>
#include <cctype>

#include "protocol/hex.h"

namespace vx {
namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::array<std::uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint8_t kPadStart = 0x80;
constexpr std::size_t kLengthField = 8;  // the message's length in bits, big-endian, ends the last block
constexpr int kBitsPerByte = 8;

std::uint32_t big_endian_word(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

Sha256::Sha256() : state_(kInitialState) {}

void Sha256::compress(const std::uint8_t* block) {
  std::array<std::uint32_t, 64> w{};
  for (std::size_t i = 0; i < 16; ++i) w[i] = big_endian_word(block + 4 * i);
  for (std::size_t i = 16; i < w.size(); ++i) {
    const std::uint32_t s0 = std::rotr(w[i - 15], 7) ^ std::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = std::rotr(w[i - 2], 17) ^ std::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  auto [a, b, c, d, e, f, g, h] = state_;
  for (std::size_t i = 0; i < w.size(); ++i) {
    const std::uint32_t t1 =
        h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRoundConstants[i] + w[i];
    const std::uint32_t t2 = (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  const std::array<std::uint32_t, 8> worked = {a, b, c, d, e, f, g, h};
  for (std::size_t i = 0; i < state_.size(); ++i) state_[i] += worked[i];
}

void Sha256::add(const std::uint8_t* data, std::size_t n) {
  total_bytes_ += n;
  while (n > 0) {
    const std::size_t take = std::min(n, kBlockSize - pending_size_);
    std::copy(data, data + take, pending_.begin() + static_cast<std::ptrdiff_t>(pending_size_));
    pending_size_ += take;
    data += take;
    n -= take;
    if (pending_size_ == kBlockSize) {
      compress(pending_.data());
      pending_size_ = 0;
    }
  }
}

Sha256::Digest Sha256::digest() {
  const std::uint64_t bits = total_bytes_ * kBitsPerByte;
  std::array<std::uint8_t, kBlockSize + kLengthField> tail{};
  std::size_t tail_size = 0;
  tail[tail_size++] = kPadStart;
  while ((pending_size_ + tail_size) % kBlockSize != kBlockSize - kLengthField) tail[tail_size++] = 0;
  for (int shift = 56; shift >= 0; shift -= kBitsPerByte) tail[tail_size++] = static_cast<std::uint8_t>(bits >> shift);
  add(tail.data(), tail_size);
  Digest digest{};
  for (std::size_t i = 0; i < state_.size(); ++i)
    for (std::size_t k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * k));
  return digest;
}

std::string Sha256::hex_digest() {
  const Digest digest = this->digest();
  std::string hex = hex_pairs(digest.data(), digest.size());
  // sha256sum and the reports write digests in lower case: the same text is the same file.
  std::transform(hex.begin(), hex.end(), hex.begin(), [](unsigned char c) { return std::tolower(c); });
  return hex;
}

}  // namespace vx
