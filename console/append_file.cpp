#include "console/append_file.h"

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vx {

#ifdef _WIN32

// Windows has no FIFO that blocks an open: the plain open is the whole story.
std::FILE* open_for_appending(const std::string& path) { return std::fopen(path.c_str(), "a"); }

std::string append_failure_reason(int err) { return std::strerror(err); }

#else

namespace {
constexpr mode_t kNewFileMode = 0666;  // before the umask, as fopen creates files
}  // namespace

std::FILE* open_for_appending(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return nullptr;
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE* f = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? ::fdopen(fd, "a") : nullptr;
  if (!f) {
    const int err = errno;
    static_cast<void>(::close(fd));  // nothing was written through it: its close can't lose data
    errno = err;
  }
  return f;
}

std::string append_failure_reason(int err) {
  if (err == ENXIO) return "a FIFO that no one reads";
  return std::strerror(err);
}

#endif

}  // namespace vx
