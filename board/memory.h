// The board's memory: 16 MiB behind 24-bit addresses, erased (every byte 0xFF) at power-up.
//
// Every access names a range and is refused whole when any part of it lies beyond the last address,
// so a telegram can't write part of its bytes and then fail. The image can be filled from a raw file
// before the board starts (--load) and written to a raw file when it stops (--dump); the dump goes to a
// temporary file that is renamed over the target, so a reader never sees a half-written image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/address.h"

namespace vx::board {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kMemorySize = kAddressSpace;  // the memory fills the address space
inline constexpr std::uint8_t kErased = 0xFF;

class Memory {
 public:
  Memory() : bytes_(kMemorySize, kErased) {}

  static bool in_range(std::uint64_t address, std::uint64_t n) {
    return address <= kMemorySize && n <= kMemorySize - address;
  }
  // False, and nothing written, when the range leaves the memory.
  bool write(std::uint32_t address, const std::uint8_t* p, std::size_t n);
  bool write(std::uint32_t address, const Bytes& data) { return write(address, data.data(), data.size()); }
  // False, and `out` untouched, when the range leaves the memory.
  bool read(std::uint32_t address, std::size_t n, Bytes& out) const;
  const std::uint8_t* data() const { return bytes_.data(); }

 private:
  Bytes bytes_;
};

struct Range {
  std::uint32_t address = 0;
  std::size_t length = kMemorySize;
};

// A raw file's bytes from `address` on; false with the reason when it can't be read or doesn't fit.
bool load_image(Memory& memory, const std::string& file, std::uint32_t address, std::string& why);
// The bytes of `range` into a raw file, completely or not at all.
bool dump_image(const Memory& memory, const std::string& file, Range range, std::string& why);

}  // namespace vx::board
