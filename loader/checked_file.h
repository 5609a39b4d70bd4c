// A file the run reads, opened once: the check of it, its recorded size and SHA-256 and the bytes the run
// acts on all come from this one open, never from a second open by name (which a rename between the two
// would turn into another file).
//
// A regular file is read in pieces of kCheckedPiece bytes, twice through the same open:
//  - the check pass (start_check, read ..., end_check) reads it from its start to its end, hands its
//    bytes to the check the caller makes of them, and records the SHA-256 of every piece (32 bytes a
//    piece, so a 2 GB file costs 1 MiB) and of the whole file, and its size;
//  - the run's reading after it (read, read_at) reads each piece again and compares its digest with the
//    recorded one before any byte of the piece is handed on. A file rewritten after its check (in place:
//    the same inode, by a build beside the run) ends the run with "Error: File NAME changed while it was
//    being sent." (exit code 3) before a changed byte is acted on; what the run had already done with the
//    file, as the caller describes it (describe_progress), goes to standard error first.
//
// Any other file (a FIFO, a terminal) can be read once only: read hands on whatever its writer has
// written so far (a script that feeds a run a line at a time is answered line by line), and it has no
// size or digest.
//
// Every wait heeds an interruption (console/finish.h): an open or read a signal cut short ends the run as
// interrupted, and every piece of a check pass looks for one, so Ctrl-C stops a long check at once.
// A file that can't be opened or read ends the run (exit code 3) with kCantOpenFile or kCantReadFile
// (console/messages.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/transfer.h"
#include "protocol/sha256.h"

namespace vx {

inline constexpr std::size_t kCheckedPiece = 64 * 1024;

class CheckedFile {
 public:
  // Opens the file for reading, or ends the run.
  explicit CheckedFile(std::string name);
  ~CheckedFile();
  CheckedFile(const CheckedFile&) = delete;
  CheckedFile& operator=(const CheckedFile&) = delete;

  const std::string& name() const { return name_; }
  bool regular() const { return regular_; }
  // A character device that is not a terminal (/dev/zero): it never ends.
  bool endless_device() const { return endless_device_; }
  // Whether `other` names this same file (device and inode), however named: another path, a link. (On
  // Win32, which has no inode numbers, the file its name now stands for.)
  bool same_file(const char* other) const;

  // The check pass of a regular file: reads from the start; end_check reads on to the end of the file
  // (bytes a reader stopped before, past a Ctrl-Z, count in the digest too) and goes back to the start
  // for the run's reading.
  void start_check();
  void end_check();
  // Up to n bytes from where the reading stands, fewer at the end or from a FIFO that has no more yet;
  // 0 at the end of the file.
  std::size_t read(std::uint8_t* bytes, std::size_t n);
  // Up to n bytes at `offset` of a checked file, fewer only at its end.
  std::size_t read_at(std::uint64_t offset, std::uint8_t* bytes, std::size_t n);
  // read_at as a function, for a reader that reads at offsets (an ELF file's headers and segments).
  std::function<std::size_t(std::uint64_t, std::uint8_t*, std::size_t)> reader_at() {
    return [this](std::uint64_t offset, std::uint8_t* bytes, std::size_t n) { return read_at(offset, bytes, n); };
  }
  // Back to the start of a checked file for one more reading; false for a file read once only.
  bool rewind();
  // The size its check pass found; none before one, or for a file without one.
  std::optional<std::int64_t> size() const { return size_; }
  // For a reader that needs the open file itself.
  int descriptor() const { return fd_; }

  // The words the standard error line gives when a change is found: what of the file the run had done.
  void describe_progress(std::function<std::string()> done) { done_ = std::move(done); }

  // The file's record for the run's events: its size and SHA-256 where a check pass read it whole, else
  // none.
  FileRecord record(FileRole role) const;

 private:
  enum class Pass { Plain, Checking, Running };

  std::size_t read_some(std::uint8_t* bytes, std::size_t n);
  std::size_t read_piece(std::uint64_t index);
  void load_piece(std::uint64_t index);
  void take_piece(std::uint64_t index);
  [[noreturn]] void changed() const;

  std::string name_;
  int fd_ = -1;
  bool regular_ = false;
  bool endless_device_ = false;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  Pass pass_ = Pass::Plain;
  std::vector<std::uint8_t> piece_;
  std::optional<std::uint64_t> piece_index_;  // which piece piece_ holds
  std::uint64_t offset_ = 0;                  // where read stands
  std::vector<Sha256::Digest> digests_;       // of every piece, from the check pass
  Sha256 whole_;
  std::string sha256_;
  std::optional<std::int64_t> size_;
  std::function<std::string()> done_;
};

}  // namespace vx
