// Where the download looks in an S-record line to classify it: the mark, the type at 1 and the count at
// 2, and the types it packs (S2 data, S8 end). A line is read whole by protocol/srecord.h; the loader
// reads the records it packs and compares through loader/record_head.h, which refuses a bad record
// before anything of it is used.
#pragma once

#include <cstddef>

#include "protocol/address.h"

namespace vx::record {

inline constexpr char kMark = 'S';
inline constexpr char kDataType = '2';
inline constexpr char kTerminationType = '8';
inline constexpr std::size_t kTypePos = 1;
inline constexpr std::size_t kCountPos = 2;
inline constexpr std::size_t kAddressBytes = 3;  // of an S2 or S8 record

}  // namespace vx::record
