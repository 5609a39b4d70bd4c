#include "loader/checked_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "console/diag.h"
#include "console/finish.h"
#include "console/messages.h"
#include "console/mprintf.h"

namespace vx {

namespace {

#ifdef _WIN32
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
using Stat = struct _stat64;
int stat_of(int fd, Stat& st) { return ::_fstat64(fd, &st); }
bool seek_to(int fd, std::uint64_t offset) { return ::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) >= 0; }
long read_from(int fd, std::uint8_t* bytes, std::size_t n) {
  return ::_read(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(n, kCheckedPiece)));
}
#else
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;
using Stat = struct stat;
int stat_of(int fd, Stat& st) { return ::fstat(fd, &st); }
bool seek_to(int fd, std::uint64_t offset) { return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }
long read_from(int fd, std::uint8_t* bytes, std::size_t n) { return ::read(fd, bytes, n); }
bool is_terminal(int fd) { return ::isatty(fd) != 0; }
#endif

[[noreturn]] void cant(FileMessage what, const std::string& name) {
  mprintf(what, name.c_str());
  finish(ExitCode::FileFailed);
}

}  // namespace

// An open a signal cut short (a FIFO whose writer has not come yet) is the interruption, not a fault.
CheckedFile::CheckedFile(std::string name) : name_(std::move(name)) {
  for (;;) {
    fd_ = ::open(name_.c_str(), kOpenFlags);
    if (fd_ >= 0 || errno != EINTR) break;
    check_interrupt();
  }
  if (fd_ < 0) cant(kCantOpenFile, name_);
  Stat st{};
  if (stat_of(fd_, st) != 0) return;  // nothing known of it: read as a stream, faults reported there
  regular_ = S_ISREG(st.st_mode);
#ifndef _WIN32
  endless_device_ = S_ISCHR(st.st_mode) && !is_terminal(fd_);  // a Windows device is no endless stream
#endif
  device_ = static_cast<std::uint64_t>(st.st_dev);
  inode_ = static_cast<std::uint64_t>(st.st_ino);
}

CheckedFile::~CheckedFile() { static_cast<void>(::close(fd_)); }  // only read: a failing close loses nothing

bool CheckedFile::same_file(const char* other) const {
#ifdef _WIN32
  std::error_code error;  // no inode numbers there: the file system tells the same file by its names
  return std::filesystem::equivalent(other, name_, error);
#else
  struct stat st {};
  return ::stat(other, &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == device_ &&
         static_cast<std::uint64_t>(st.st_ino) == inode_;
#endif
}

// One read as the system gives it: what a FIFO's writer has written so far, at least a byte.
std::size_t CheckedFile::read_some(std::uint8_t* bytes, std::size_t n) {
  for (;;) {
    check_interrupt();  // a signal that came before the read began would not cut the read short
    const long got = read_from(fd_, bytes, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) cant(kCantReadFile, name_);
    check_interrupt();
  }
}

// Piece `index` from the disk into piece_, whole: kCheckedPiece bytes, fewer only at the end.
std::size_t CheckedFile::read_piece(std::uint64_t index) {
  if (!seek_to(fd_, index * kCheckedPiece)) cant(kCantReadFile, name_);
  piece_.resize(kCheckedPiece);
  std::size_t got = 0;
  for (std::size_t n = 1; got < kCheckedPiece && n > 0; got += n)
    n = read_some(piece_.data() + got, kCheckedPiece - got);
  piece_.resize(got);
  piece_index_ = index;
  return got;
}

void CheckedFile::start_check() {
  if (!regular_) return;
  pass_ = Pass::Checking;
  offset_ = 0;
}

// The check pass records each piece as it comes, in order; the run's reading compares each with it.
void CheckedFile::load_piece(std::uint64_t index) {
  if (piece_index_ == index) return;
  check_interrupt();  // a check of a long file stops at once on Ctrl-C
  read_piece(index);
  Sha256 hash;
  hash.add(piece_.data(), piece_.size());
  const Sha256::Digest digest = hash.digest();
  if (pass_ == Pass::Checking) {
    whole_.add(piece_.data(), piece_.size());
    digests_.push_back(digest);
    return;
  }
  const bool recorded = index < digests_.size();
  if (recorded ? digest != digests_[index] : !piece_.empty()) changed();
}

void CheckedFile::end_check() {
  if (pass_ != Pass::Checking) return;
  if (!piece_index_) load_piece(0);
  while (piece_.size() == kCheckedPiece) load_piece(*piece_index_ + 1);
  size_ = static_cast<std::int64_t>(*piece_index_ * kCheckedPiece + piece_.size());
  sha256_ = whole_.hex_digest();
  pass_ = Pass::Running;
  offset_ = 0;
  piece_index_.reset();
}

bool CheckedFile::rewind() {
  if (pass_ != Pass::Running) return false;
  offset_ = 0;
  return true;
}

std::size_t CheckedFile::read(std::uint8_t* bytes, std::size_t n) {
  if (pass_ == Pass::Plain) {
    const std::size_t got = read_some(bytes, n);
    offset_ += got;
    return got;
  }
  const std::size_t got = read_at(offset_, bytes, n);
  offset_ += got;
  return got;
}

std::size_t CheckedFile::read_at(std::uint64_t offset, std::uint8_t* bytes, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    load_piece((offset + done) / kCheckedPiece);
    const std::size_t at = static_cast<std::size_t>((offset + done) % kCheckedPiece);
    if (at >= piece_.size()) break;  // the end of the file
    const std::size_t take = std::min(n - done, piece_.size() - at);
    std::memcpy(bytes + done, piece_.data() + at, take);
    done += take;
  }
  return done;
}

void CheckedFile::changed() const {
  if (done_) diagnostic(name_ + ": " + done_());
  mprintf("%s\n", ("Error: File " + name_ + " changed while it was being sent.").c_str());
  finish(ExitCode::FileFailed);
}

FileRecord CheckedFile::record(FileRole role) const {
  FileRecord record;
  record.role = role;
  record.path = name_;
  if (size_) {
    record.size = size_;
    record.sha256 = sha256_;
  }
  return record;
}

}  // namespace vx
