// Firmware files read whole into an image before anything of them is sent or compared ("@load" and
// "@verify" of every format), so a file that fails any check sends nothing, and both commands read one
// file as one image.
//
// The format comes from the file's content, never its name (protocol/firmware.h): S-records, Intel HEX
// or ELF (loader/elf_image.h); with an address the file is a raw binary placed from there on, whatever it
// holds. The file is read through its one open in pieces of 64 KiB (loader/checked_file.h), so memory
// stays bounded by the image (at most the 16 MiB address space and its masks) however large the file or
// however many its records; the reading that builds the image is the file's check pass, which makes the
// digest the run records, and an ELF file's segments are read through the pieces that pass checked.
//
// Every failure prints one line and ends the run:
//   kCantOpenFile, kCantReadFile (console/messages.h)                                         exit code 3
//   a file of no known format and no address: what it begins with and how to give an address  exit code 3
//   an ELF file given as a pipe or a device, which can't be read at offsets                    exit code 3
//   a record that breaks its format, a file not shown whole, an overlap naming both places     exit code 3
//   data at an address past FFFFFF, naming the first one                                       exit code 9
// An overlap's earlier place is found by reading the file a second time; a file that can't be read
// twice (a FIFO) names "an earlier record". Under image::Rewrites::LaterWins (what "@verify" compares)
// an overlap is no fault: the later record's bytes stand, as a download of the records leaves them.
#pragma once

#include <cstdint>
#include <optional>

#include "loader/checked_file.h"
#include "protocol/firmware.h"
#include "protocol/image.h"

namespace vx {

// Reads the whole file from its start into `image` (fresh), or ends the run; afterwards file.record
// gives the size and digest of the bytes read.
void read_firmware(CheckedFile& file, std::optional<std::uint32_t> raw_address, image::Image& image,
                   image::Rewrites rewrites = image::Rewrites::Refused);

}  // namespace vx
