// ELF files into data records: the bytes of every PT_LOAD program header with a file size, placed at its
// physical address (nothing for the part beyond the file size, which a program clears itself), in
// pieces of at most kElfPiece bytes so a large segment never sits whole in memory besides the image.
// The headers are read by protocol/elf.h, the same reader on every platform: 32- and 64-bit files of
// either byte order, every field checked for overflow before it is used.
//
// The file is reached only through a ReadAt, a read at an offset, so the caller decides how (pread on a
// descriptor, a checked piece of a file it holds). A file that is not ELF, whose headers or segments lie
// past its end (a file cut short), or whose segment wraps past 2^64, is refused with a BadRecord, NotWhole
// or Outside refusal; the sink's own refusal (an address outside, an overlap) stops the reading and is
// returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/elf.h"
#include "protocol/firmware.h"

namespace vx {

inline constexpr std::size_t kElfPiece = 65536;

// Reads `n` bytes at `offset` into `bytes`; returns how many were read (fewer only at the end of the
// file); ends the run on a read error. The type of protocol/elf.h's, which can't end a run itself.
using ReadAt = elf::ReadAt;

// Reads the ELF file of `file_size` bytes through `read_at`, every segment's bytes to `sink`; sets `start`
// to the entry point when nothing was refused.
std::optional<image::Refusal> read_elf(std::uint64_t file_size, const ReadAt& read_at, const image::RecordSink& sink,
                                       std::optional<std::uint64_t>& start);

}  // namespace vx
