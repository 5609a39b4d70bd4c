// Reading a record's head for the download and @verify: the address pairs first, then the count, as
// the download has always read them. A record that breaks the grammar (protocol/record.h) is refused
// here, before anything of it is stored or compared: "Bad format:%s\n" with the rest of the line, exit
// code 3.
#pragma once

#include <cstdint>

#include "protocol/record.h"

namespace vx::record {

[[noreturn]] void bad_format(const char* rest);

// A count below 4 or data past the 24-bit address space is a bad format at the count pair.
Head read_head(const char* line);

// For the progress only, never failing: the data bytes an S2 line's count declares (0 for any other
// line or a count that can't be read), and their sum over a file's lines (0 when it can't be read).
std::uint32_t declared_data_bytes(const char* line);
std::int64_t declared_data_bytes_in_file(const char* fname);

}  // namespace vx::record
