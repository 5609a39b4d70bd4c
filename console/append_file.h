// Opening a file that a run appends lines to (the event channel, the frame trace) without ever
// waiting for it.
//
// A FIFO opened for writing waits until someone opens it for reading; a run must not hang before its
// first telegram because no reader came. The file is opened non-blocking, which refuses a FIFO without
// a reader at once (ENXIO) and creates a missing regular file; once open, the descriptor is switched
// back to blocking writes, so a slow reader holds lines up instead of losing half of one.
#pragma once

#include <cstdio>
#include <string>

namespace vx {

// The stream, or nullptr with errno set.
std::FILE* open_for_appending(const std::string& path);

// The operating system's reason for errno `err` as the user should read it; a FIFO without a reader
// is named as such.
std::string append_failure_reason(int err);

}  // namespace vx
