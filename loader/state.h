// The loader's state: everything one run of the driver, the command files and the S-record packing
// keeps between steps, in one object. A fresh run gets a freshly constructed LoaderState
// (fresh_loader, through fresh_run in loader/run.h), never a list of resets.
//
// The members keep the names the loader has always used. The state belongs to the loader's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loader/args.h"
#include "protocol/block.h"

namespace vx {

class CheckedFile;

struct LoaderState {
  // --- driver (vexal.cpp) ---
  std::uint32_t olds24 = 0;              // index of the argument "old", 0 when none: S2/S8 lines go as text
  std::uint32_t ramc = 0;                // index of the argument "ram", 0 when none
  char command[kMaxArgLength + 2] = {};  // the command argument being handled, with room for its line feed
  bool ignore_checksums = false;         // the front-end's --ignore-checksums: a record's checksum is not checked

  // --- command files (cmdfile.cpp) ---
  int depth = 0;                                  // command files open now, the outermost included
  std::vector<const CheckedFile*> command_files;  // the ones being read now, outermost first
  bool text_record_hinted = false;                // the hint on S1/S3/S7/S9 lines sent as text was given

  // --- S-records and blocks (srec.cpp) ---
  std::uint32_t binadr = 0;  // the first address of the block being assembled
  unsigned char binbuf[kBlockSize] = {};
  unsigned char binmask[kMaskBytes] = {};  // which of binbuf's bytes a record gave
  // The file of the last S2 record sent (packed, or as text under "old") that no S8 has followed yet;
  // empty when none: the run must not end while it is set.
  std::string unconfirmed_records;
};

// The loader of the process.
LoaderState& loader_state();

// A freshly constructed state in place of the one in force.
void fresh_loader();

}  // namespace vx
