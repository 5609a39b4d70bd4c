// Reading a record's head for the download and @verify: the address pairs first, then the count, as
// the download has always read them. A record that breaks the grammar (protocol/record.h) is refused
// here, before anything of it is stored or compared: "Bad format:%s\n" with the rest of the line, exit
// code 3.
#pragma once

#include "protocol/record.h"

namespace vx::record {

[[noreturn]] void bad_format(const char* rest);

// A count below 4 or data past the 24-bit address space is a bad format at the count pair. The download's
// records (S2, S8) have three address bytes; @verify reads S1 (two) and S3 (four) as well.
Head read_head(const char* line, std::size_t address_bytes = kAddressBytes);

}  // namespace vx::record
