// The messages the loader prints from more than one place, each written once: what the console shows
// for a file it can't open, read, write or close, and for a line of a file the run refuses. (The
// "Exit code N" line that ends every run is finish.h's print_exit_code.)
//
// The file messages are formats for mprintf, checked against their one argument, the file's name,
// wherever they are used; each keeps the blank before its line feed, as the console has always shown it.
#pragma once

#include <string>

#include "console/mprintf.h"

namespace vx {

using FileMessage = CheckedFormat<const char*>;

inline constexpr FileMessage kCantOpenFile{"Error: Can't open file %s \n"};
inline constexpr FileMessage kCantReadFile{"Error: Can't read file %s \n"};
inline constexpr FileMessage kCantWriteFile{"Error: Can't write to file %s \n"};
inline constexpr FileMessage kCantCloseFile{"Error: Can't close file %s \n"};

// "Error: Line N of NAME WHY.": the line of a file the run refuses, WHY saying what is wrong with it
// ("is longer than 244 characters").
inline std::string line_refusal(unsigned line, const std::string& file, const std::string& why) {
  return "Error: Line " + std::to_string(line) + " of " + file + " " + why + ".";
}

}  // namespace vx
