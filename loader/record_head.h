// Reading a record's head for the download and @verify: the address pairs first, then the count, as
// the download has always read them. A record that breaks the grammar (protocol/record.h) is refused
// here, before anything of it is stored or compared: "Bad format:%s\n" with the rest of the line, exit
// code 3.
#pragma once

#include <cstdint>

#include "protocol/record.h"

namespace vx::record {

[[noreturn]] void bad_format(const char* rest);

// A count below 4 or data past the 24-bit address space is a bad format at the count pair. The download's
// records (S2, S8) have three address bytes; @verify reads S1 (two) and S3 (four) as well.
Head read_head(const char* line, std::size_t address_bytes = kAddressBytes);

// For the progress only, never failing: the data bytes a data record's count declares (S2 for the
// download; S1, S2 and S3 for @verify, with `all_data_types`), 0 for any other line or a count that
// can't be read; and their sum over a file's lines. Only a regular file is read for the sum (a FIFO
// would be used up, a device never ends): any other gives 0, as does a file that can't be read. The
// file is read in pieces, so a line without end costs no memory.
std::uint32_t declared_data_bytes(const char* line, bool all_data_types = false);
std::int64_t declared_data_bytes_in_file(const char* fname, bool all_data_types = false);

}  // namespace vx::record
