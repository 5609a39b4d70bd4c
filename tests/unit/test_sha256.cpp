// SHA-256 against the published test vectors, fed whole and in pieces that cross block boundaries.
#include <gtest/gtest.h>

#include <string>

#include "protocol/sha256.h"

namespace vx {
namespace {

struct Vector {
  std::string message;
  const char* digest;
};

const Vector kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
     "nopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    // The padding's edges: the length still fits the block, just doesn't, and a whole block (sha256sum's).
    {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
    {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
    {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
};

TEST(Sha256, StandardVectorsWhole) {
  for (const Vector& v : kVectors) {
    Sha256 hash;
    hash.add(v.message);
    EXPECT_EQ(hash.hex_digest(), v.digest) << v.message.size() << " bytes";
  }
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
  for (const Vector& v : kVectors) {
    for (std::size_t piece : {1u, 7u, 63u, 64u, 65u, 1000u}) {
      Sha256 hash;
      const std::string_view message = v.message;
      for (std::size_t at = 0; at < message.size(); at += piece) hash.add(message.substr(at, piece));
      EXPECT_EQ(hash.hex_digest(), v.digest) << v.message.size() << " bytes in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace vx
