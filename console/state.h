// The console's state: everything a run prints through, in one object owned by the process's one
// Console. A fresh run gets a freshly constructed ConsoleState (fresh_console), never a list of resets.
//
// The console store is shared with a drawing thread: `store`, `tap` and `sink` are only touched under
// Console::lock. The progress and mprintf's work buffer belong to the loader's thread alone. The state
// is replaced under the lock, so a drawing thread never sees it half constructed.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/diag.h"
#include "console/mprintf.h"
#include "console/progress.h"
#include "console/transfer.h"

namespace vx {

inline constexpr int kMirror = 0;        // positions 0..3199: the copy the drawing reads across the ring's end
inline constexpr int kRing = kRingSize;  // positions 3200..6399: the ring
inline constexpr int kRingEnd = 2 * kRingSize;
inline constexpr int kScreenSize = kRingEnd + 10;

// The ring and its counters (console.h describes them).
struct ConsoleStore {
  char screen[kScreenSize] = {};
  int pscreen = kRing;   // write position
  int pscreenu = kRing;  // first character of the oldest line shown
  int slen = 0;
  int slines = 1;
  int linechar = 0;
};

// The progress of the command file that runs (progress.h).
struct ProgressState {
  ProgressView* view = nullptr;
  bool shown = false;
  int pbfsize = 0;
  std::string name;
};

// The bytes the run moves (transfer.h): the open transfers, innermost last, and who watches them.
struct TransferState {
  struct Open {
    TransferProgress shown;
    Micros started{0};
  };
  std::vector<TransferView*> views;
  const Clock* clock = nullptr;  // nullptr: the steady clock
  std::vector<Open> stack;
  RunCounts counts;
  Micros run_started{0};
};

struct ConsoleState {
  ConsoleStore store;                     // under the lock
  ConsoleTap tap;                         // under the lock
  DiagnosticSink sink;                    // under the lock; empty: standard error
  ProgressState progress;                 // the loader's thread's
  TransferState transfer;                 // the loader's thread's
  std::string error_detail;               // the loader's thread's (outcome.h)
  bool error_detail_said = false;         // the loader's thread's (outcome.h)
  char li_tmpbuff[kWorkBufferSize] = {};  // mprintf's work buffer, the loader's thread's
};

struct Console {
  std::mutex lock;
  ConsoleState state;
};

// The one console of the process.
Console& console();

// A freshly constructed state in place of the one in force (a new run): empty console, no tap, no
// sink, no progress view.
void fresh_console();

}  // namespace vx
