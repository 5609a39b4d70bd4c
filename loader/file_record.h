// The record of a file the run opens: its role, the name it was given, and for a regular file its size
// and SHA-256 at that moment, handed to the transfer views (the event channel writes a "file" event).
//
// The file is read once more by name for the digest, apart from the loader's own reading, so that the
// reading the run does stays as it is; a FIFO or a device is not read for it (a second read would take
// bytes meant for the run, or never end), and gets a record without size and digest. A file that can't
// be read for the digest gets none either: the loader's own reading reports its faults.
#pragma once

#include "console/transfer.h"

namespace vx {

// Call right after the loader has opened `path` for its own reading.
void record_file_opened(FileRole role, const char* path);

}  // namespace vx
