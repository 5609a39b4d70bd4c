// The terminal's width on POSIX systems; the Win32 twin is terminal_columns_win32.cpp.
#include <sys/ioctl.h>
#include <unistd.h>

#include "frontends/terminal/terminal_view.h"

namespace vx {

int terminal_columns(std::FILE* out, int fallback) {
  winsize ws{};
  if (::ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return fallback;
}

}  // namespace vx
