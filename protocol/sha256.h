// SHA-256 (FIPS 180-4) of a byte stream, for the record of which files went into a board.
//
// Fed in pieces of any size, then finished once into 64 lower-case hex digits. A small implementation
// of our own rather than a cryptographic library: only the digest of files already on this machine is
// wanted (nothing secret, no protection against an attacker), and linking such a library into every
// front-end, the static Win32 build included, costs more than these hundred lines checked against the
// standard's test vectors (tests/unit/test_sha256.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

class Sha256 {
 public:
  static constexpr std::size_t kDigestSize = 32;
  using Digest = std::array<std::uint8_t, kDigestSize>;

  Sha256();
  void add(const std::uint8_t* data, std::size_t n);
  void add(std::string_view bytes) { add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()); }
  // The digest's 32 bytes; the object is spent afterwards.
  Digest digest();
  // The digest as 64 lower-case hex digits; the object is spent afterwards.
  std::string hex_digest();

 private:
  void compress(const std::uint8_t* block);

  static constexpr std::size_t kBlockSize = 64;
  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, kBlockSize> pending_{};
  std::size_t pending_size_ = 0;
  std::uint64_t total_bytes_ = 0;
};

}  // namespace vx
