// The console window's width on Win32; the POSIX twin is terminal_columns_posix.cpp.
#include <io.h>
#include <windows.h>

#include "frontends/terminal/terminal_view.h"

namespace vx {

int terminal_columns(std::FILE* out, int fallback) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  if (h == INVALID_HANDLE_VALUE) return fallback;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(h, &info)) return fallback;  // a pipe or a file, not a console
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : fallback;
}

}  // namespace vx
