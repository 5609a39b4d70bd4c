// ELF files into data records: the bytes of every PT_LOAD program header with a file size, placed at its
// physical address (nothing for the part beyond the file size, which a program clears itself), in
// pieces of at most kElfPiece bytes so a large segment never sits whole in memory besides the image.
// The headers are read through libelf, so 32- and 64-bit files of either byte order read alike.
//
// A file that is not ELF, or whose headers or segments lie past its end (a file cut short), is refused
// with a BadRecord or NotWhole refusal; the sink's own refusal (an address outside, an overlap) stops the
// reading and is returned. A build without libelf (the Win32 one) refuses every ELF file, naming the
// conversion to Intel HEX that reads instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/firmware.h"

namespace vx {

inline constexpr std::size_t kElfPiece = 65536;

// Reads the open file `fd` from its start; sets `start` to the entry point.
std::optional<image::Refusal> read_elf(int fd, const image::RecordSink& sink, std::optional<std::uint64_t>& start);

}  // namespace vx
