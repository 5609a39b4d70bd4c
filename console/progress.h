// The progress of a command file: `pbfsize` line feeds counted beforehand (the file's check pass,
// loader/record_head.h), position line * 100 / count.
//
// The core keeps the count and the shown/not-shown state; a front-end supplies a ProgressView that
// draws it (the window's bar, the terminal's status). All calls come from the loader's thread. The
// state is part of the console's (console/state.h): a fresh run has no bar, no count and no view.
#pragma once

#include <string>

namespace vx {

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void show(const std::string& file_name) = 0;  // label and bar appear
  virtual void set_position(int percent) = 0;           // may exceed 100: shown full
  virtual void hide() = 0;                              // label and bar go
};

// nullptr: nothing is drawn (the counting still happens).
void set_progress_view(ProgressView* view);

void setpbar(int a);
void resetpbar();

// The count in force, and putting an earlier one back after a nested file returns.
int pbar_count();
void pbar_restore(int count, const char* fname);

// The count of a file that is not counted (a FIFO, a device, read once only or never ending): the bar
// shows no position for it.
inline constexpr int kUnknownCount = -1;

// The position shown for line a of a file with `count` line feeds; a count of 0 shows full.
int pbar_position(int a, int count);

}  // namespace vx
