// How far the run has got, in bytes: a download's data, a memory read or write, a verify.
//
// The loader states the phase it is in (opening the port, asking for the identity) and, for each
// transfer, what it moves and how many bytes that is (a download: the data bytes of the file's S2
// records, counted when the file is opened; a memory command: its range; a verify: the bytes its file
// covers), then the bytes as they go. Transfers nest (a verify inside a command file, a command file
// inside another): the innermost one is measured, and the outer one takes over again when it ends.
//
// Views watch it: the terminal's status line, the plain progress lines on standard error, the event
// channel for scripts. Views also learn of each file the run opens (its role, size and SHA-256, for
// the record of what went into the board) and the run keeps its counts: data bytes written to the
// board (a download, a memory write) apart from those read (a memory read, a verify), and the
// attempts beyond the first of a text command and of a data block. The core keeps the numbers (rate,
// time left) so every view shows the same. The state is part of the console's (console/state.h): all
// calls come from the loader's thread, and a front-end installs its views after fresh_run, before the
// run starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "console/clock.h"

namespace vx {

enum class Phase { Opening, Identity, Loading, Reading, Writing, Verifying };
const char* phase_name(Phase phase);  // "opening", "identity", "loading", ...

// Why the run opened a file: the command file named on the command line, one it names in turn, the
// file of a memory write or of a verify, a firmware image to load.
enum class FileRole { Command, Nested, Binput, Verify, Load };
const char* file_role_name(FileRole role);  // "command", "nested", "binput", "verify", "load"

struct FileRecord {
  FileRole role = FileRole::Command;
  std::string path;                  // as the run was given it
  std::optional<std::int64_t> size;  // the bytes it held when opened; none for a FIFO or a device
  std::string sha256;                // their digest, 64 lower-case hex digits; empty without a size
};

// The run's figures for its record.
struct RunCounts {
  std::int64_t written = 0;  // data bytes sent to the board's memory
  std::int64_t read = 0;     // data bytes read from it
  std::int64_t text_retries = 0;
  std::int64_t block_retries = 0;
  std::int64_t moved() const { return written + read; }
};

enum class Retry { Text, Block };

struct TransferProgress {
  Phase phase = Phase::Loading;
  std::string file;
  std::int64_t done = 0;
  std::int64_t total = 0;
  Micros elapsed{0};  // since the transfer began

  int percent() const;                 // 0..100
  double bytes_per_second() const;     // 0 until there is a measurable time
  std::optional<Micros> left() const;  // unknown until a rate is known
};

class TransferView {
 public:
  virtual ~TransferView() = default;
  virtual void phase_started(Phase, const std::string& /*file, empty without one*/) {}
  virtual void progress(const TransferProgress&) {}  // after every step, and when a transfer resumes
  virtual void transfer_ended() {}                   // the innermost transfer is over
  virtual void identity(const std::string& /*the board's answer*/) {}
  virtual void file_opened(const FileRecord&) {}
};

void add_transfer_view(TransferView* view);
void remove_transfer_view(TransferView* view);
void set_transfer_clock(const Clock* clock);  // nullptr: the steady clock

void transfer_phase(Phase phase);  // a phase that moves no data
void transfer_identity(const std::string& id);
void transfer_file_opened(const FileRecord& file);
void transfer_retried(Retry what);  // one more attempt is about to go out
void transfer_begin(Phase phase, const std::string& file, std::int64_t total);
void transfer_advance(std::int64_t bytes);
void transfer_end();

// Begins a transfer and ends it on every way out, a run's end by finish included.
class TransferScope {
 public:
  TransferScope(Phase phase, const std::string& file, std::int64_t total) { transfer_begin(phase, file, total); }
  ~TransferScope() { transfer_end(); }
  TransferScope(const TransferScope&) = delete;
  TransferScope& operator=(const TransferScope&) = delete;
};

// Since the last reset: the data bytes sent and read, the repeated attempts; how long the run has taken.
// A byte counts as written in a loading or writing transfer, as read in a reading or verifying one.
RunCounts transfer_counts();
Micros transfer_run_time();

// No transfer, no counts, the run's clock started again; the views and the clock stay (a run starts
// with it after fresh_run, once its clock is chosen).
void transfer_reset();

}  // namespace vx
