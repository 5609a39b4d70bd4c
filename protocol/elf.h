// The headers of an ELF file, pure: the file header and the program headers of a 32- or 64-bit file of
// either byte order, read through a function that fetches bytes at an offset, so every platform and every
// way of reaching the file (a descriptor, a checked piece, a buffer in a test) shares this one reader.
//
// Only what loading needs is read: the class, the byte order and the version of e_ident, the entry
// point, where the program-header table stands, how large its entries are and how many it holds, and of
// each PT_LOAD header with a file size its offset, its file size and its physical address (p_paddr:
// where the bytes go; p_vaddr, where they run, is not the loader's business). An e_phnum of 0xFFFF
// (PN_XNUM) means the count stands in section header 0's sh_info, as the format has it for large tables.
// An e_phoff of 0 means the file has no program headers.
//
// Every field is checked before it is used, in 64-bit arithmetic that never wraps, whatever the class:
//   - the file header, the program-header table (and section header 0 where it holds the count) and
//     every segment's bytes lie inside the file: else NotWhole, the file is cut short;
//   - the magic, class, byte order and version are the format's, the table's entries the size of the
//     class's program header (section header 0 likewise): else BadRecord;
//   - a segment's address plus its size stays below 2^64: else Outside (such a segment lies past FFFFFF),
//     so a segment handed on covers [address, address + size) without wrapping.
// A fetch that yields fewer bytes than a check found in the file (the file shrank) is NotWhole too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "protocol/image.h"

namespace vx::elf {

// Reads `n` bytes at `offset` into `bytes`; returns how many were read (fewer only at the end of the file).
using ReadAt = std::function<std::size_t(std::uint64_t offset, std::uint8_t* bytes, std::size_t n)>;

// One PT_LOAD program header with bytes in the file.
struct Segment {
  std::uint64_t header = 0;   // its index in the program-header table
  std::uint64_t offset = 0;   // p_offset: where its bytes begin in the file
  std::uint64_t size = 0;     // p_filesz, at least 1; offset + size is at most the file's size
  std::uint64_t address = 0;  // p_paddr: where its first byte goes; address + size stays below 2^64
};

// Where the segments go, in table order; a refusal from it stops the reading and is returned.
using SegmentSink = std::function<std::optional<image::Refusal>(const Segment&)>;

// Reads the headers of the file of `file_size` bytes through `read_at`: every PT_LOAD segment with a file
// size to `sink` once it passed its checks, then, when nothing was refused, the entry point to `entry`.
// A refusal names the program header it concerns (image::Place::Kind::Segment), or the file as a whole.
std::optional<image::Refusal> read_segments(std::uint64_t file_size, const ReadAt& read_at, const SegmentSink& sink,
                                            std::optional<std::uint64_t>& entry);

// The refusal of bytes at `place` that a check found in the file but a read no longer did.
image::Refusal became_shorter(image::Place place);

}  // namespace vx::elf
