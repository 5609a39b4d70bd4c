// The progress bar's core: the count of line feeds, the shown/not-shown state and the name the bar is
// labelled with. Drawing belongs to the installed ProgressView; without one only the state moves.
//
// A nested command file's count replaces the outer one's; the interpreter puts the outer file's count
// and name back with pbar_restore when the nested file returns, so the outer file's remaining lines
// are measured against its own length and its next line shows the bar again under its own name.
#include "console/progress.h"

#include <climits>
#include <cstdint>

#include "console/state.h"

namespace vx {

namespace {

constexpr int kFull = 100;

// The loader's thread's part of the console's state: no lock.
ProgressState& state() { return console().state.progress; }

}  // namespace

void set_progress_view(ProgressView* view) { state().view = view; }

int pbar_position(int a, int count) {
  if (count <= 0) return kFull;  // a file without a line feed is one line: it is done when it runs
  std::int64_t position = static_cast<std::int64_t>(a) * kFull / count;
  return position > INT_MAX ? INT_MAX : static_cast<int>(position);
}

void setpbar(int a) {
  ProgressState& s = state();
  if (!s.shown) {
    s.shown = true;
    if (s.view) s.view->show(s.name);
  }
  if (s.view && s.pbfsize != kUnknownCount) s.view->set_position(pbar_position(a, s.pbfsize));
}

void resetpbar() {
  ProgressState& s = state();
  if (!s.shown) return;
  s.shown = false;
  if (s.view) s.view->hide();
}

int pbar_count() { return state().pbfsize; }

void pbar_restore(int count, const char* fname) {
  ProgressState& s = state();
  s.pbfsize = count;
  s.name = fname;
}

}  // namespace vx
