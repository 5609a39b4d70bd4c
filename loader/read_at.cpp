#include "loader/read_at.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <limits>

namespace vx {

namespace {

#ifdef _WIN32
using FileOffset = long long;  // what _lseeki64 takes
#else
using FileOffset = off_t;
#endif
constexpr auto kLargestOffset = static_cast<std::uint64_t>(std::numeric_limits<FileOffset>::max());
constexpr auto kLargestRead = static_cast<std::size_t>(std::numeric_limits<int>::max());  // what _read takes

// One read of at most `n` bytes at `offset`: how many came (0 at the end), -1 on an error.
long long read_once(int fd, std::uint64_t offset, std::uint8_t* bytes, std::size_t n) {
#ifdef _WIN32
  if (_lseeki64(fd, static_cast<FileOffset>(offset), SEEK_SET) < 0) return -1;
  return _read(fd, bytes, static_cast<unsigned>(std::min(n, kLargestRead)));
#else
  return ::pread(fd, bytes, std::min(n, kLargestRead), static_cast<FileOffset>(offset));
#endif
}

// Reads until `n` bytes came or the file ended; -1 on an error.
long long read_fully(int fd, std::uint64_t offset, std::uint8_t* bytes, std::size_t n) {
  std::size_t done = 0;
  while (done < n && offset + done <= kLargestOffset) {
    const long long got = read_once(fd, offset + done, bytes + done, n - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(done);
}

}  // namespace

std::optional<std::size_t> read_at_offset(int fd, std::uint64_t offset, std::uint8_t* bytes, std::size_t n) {
#ifdef _WIN32
  const long long was = _telli64(fd);  // put back after, for a stream that reads on
  if (was < 0) return std::nullopt;
  const long long got = read_fully(fd, offset, bytes, n);
  if (_lseeki64(fd, was, SEEK_SET) < 0) return std::nullopt;
#else
  const long long got = read_fully(fd, offset, bytes, n);
#endif
  if (got < 0) return std::nullopt;
  return static_cast<std::size_t>(got);
}

std::optional<std::uint64_t> regular_file_size(int fd) {
#ifdef _WIN32
  struct _stati64 st {};
  if (_fstati64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return std::nullopt;
#else
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
#endif
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace vx
