// Reads at an offset of an open file, what the ELF reader needs of a file (loader/elf_image.h), the same
// on both platforms: pread on POSIX; on Win32, which has no pread, _lseeki64 and _read on the same
// descriptor, with the file's position put back after, so a stdio stream over the descriptor reads on
// where it stood.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vx {

// Reads `n` bytes at `offset` of the open file `fd` into `bytes`: how many were read (fewer only at the
// end of the file), or nothing on a read error.
std::optional<std::size_t> read_at_offset(int fd, std::uint64_t offset, std::uint8_t* bytes, std::size_t n);

// The size of the open file `fd` when it is a regular file; nothing for a pipe, a device, or an error.
std::optional<std::uint64_t> regular_file_size(int fd);

}  // namespace vx
