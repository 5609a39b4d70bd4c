// The progress bar's core: the count of line feeds, the shown/not-shown state and the name the bar is
// labelled with. Drawing belongs to the installed ProgressView; without one only the state moves.
//
// Only a regular file is counted: a FIFO can be read once only (the count would eat the commands) and a
// device may never end (/dev/zero); for those the count is unknown and the bar shows no position.
//
// A nested command file's initpbar replaces the count; the interpreter puts the outer file's count
// and name back with pbar_restore when the nested file returns, so the outer file's remaining lines
// are measured against its own length and its next line shows the bar again under its own name.
#include "console/progress.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "console/state.h"

namespace vx {

namespace {

constexpr std::size_t kCountPiece = 65536;
constexpr char kLineFeed = '\n';
constexpr int kFull = 100;

// The loader's thread's part of the console's state: no lock.
ProgressState& state() { return console().state.progress; }

int count_in(const char* buf, std::size_t n) {
  int count = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (buf[i] == kLineFeed) ++count;
  return count;
}

}  // namespace

void set_progress_view(ProgressView* view) { state().view = view; }

int count_line_feeds(const char* fname) {
  struct stat st {};
  if (::stat(fname, &st) != 0) return 0;  // the interpreter's own open reports it
  if (!S_ISREG(st.st_mode)) return kUnknownCount;
  std::FILE* f = std::fopen(fname, "rb");
  if (!f) return 0;
  std::vector<char> piece(kCountPiece);
  int count = 0;
  std::size_t got = 0;
  while ((got = std::fread(piece.data(), 1, piece.size(), f)) > 0) count += count_in(piece.data(), got);
  // A read error leaves a short count and the bar runs ahead, which harms nothing; the interpreter
  // reads the file itself and reports its failures. The file was only read: a failing close loses
  // nothing, so its result is not acted on.
  static_cast<void>(std::fclose(f));
  return count;
}

int pbar_position(int a, int count) {
  if (count <= 0) return kFull;  // a file without a line feed is one line: it is done when it runs
  std::int64_t position = static_cast<std::int64_t>(a) * kFull / count;
  return position > INT_MAX ? INT_MAX : static_cast<int>(position);
}

void initpbar(const char* fname) {
  resetpbar();
  ProgressState& s = state();
  s.pbfsize = count_line_feeds(fname);
  s.name = fname;
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
