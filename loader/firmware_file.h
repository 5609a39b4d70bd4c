// Firmware files read whole into an image before anything of them is sent ("@load", and "@verify" of a
// file that is not S-record lines), so a file that fails any check sends nothing.
//
// The format comes from the file's content, never its name (protocol/firmware.h): S-records, Intel HEX
// or ELF (loader/elf_image.h); with an address the file is a raw binary placed from there on, whatever it
// holds. The file is read in pieces of 64 KiB, so memory stays bounded by the image (at most the 16 MiB
// address space and its masks) however large the file or however many its records.
//
// Every failure prints one line and ends the run:
//   "Error: Can't open file %s \n", "Error: Can't read file %s \n"                           exit code 3
//   a file of no known format and no address: what it begins with and how to give an address  exit code 3
//   an ELF file given as a pipe or a device, which can't be read at offsets                    exit code 3
//   a record that breaks its format, a file not shown whole, an overlap naming both places     exit code 3
//   data at an address past FFFFFF, naming the first one                                       exit code 9
// An overlap's earlier place is found by reading the file a second time; a file that can't be read
// twice (a FIFO) names "an earlier record".
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/firmware.h"
#include "protocol/image.h"

namespace vx {

// The format a regular file's first bytes show; Unknown for any other file or one that can't be read.
image::Format regular_file_format(const char* file);

// Reads the whole file into `image` (fresh), or ends the run.
void read_firmware(const char* file, std::optional<std::uint32_t> raw_address, image::Image& image);

}  // namespace vx
