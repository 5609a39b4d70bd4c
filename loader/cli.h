// The front-ends' own options, taken before the loader sees its arguments.
//
// The loader's arguments have no dash (b38400, p3f8, old, files, '@' commands, raw commands), so an
// argument that begins with '-' is an option of the program around it: -h/--help, -V/--version,
// --list-ports, -q/--quiet, --ignore-checksums, -P/--port DEV (also --port=DEV). Any other one is refused, so a typo
// never reaches the board as a raw command. After "--" every argument goes to the loader as it is (a
// raw command that begins with a dash). "-?" stays the loader's usage request, as "?" and "/?" are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vexal_version.h"

namespace vx {

struct CommandLine {
  enum class Action { Run, Help, Version, ListPorts, Refused };
  Action action = Action::Run;
  std::vector<std::string> loader_args;  // in order, the options taken out
  std::string port;                      // the device COM1 opens; empty: VEXAL_COM1 or the default
  bool quiet = false;                    // no progress display
  bool ignore_checksums = false;         // S-record checksums are not checked (hand-made files)
  std::string refusal;                   // why the line was refused: "unknown option '-x'"
};

CommandLine parse_command_line(const std::vector<std::string>& args);

// The texts of --help and --version, for the program called `program`. `own_options` are the lines of
// the options only that front-end has (vexalw's --choose), put first among the options.
std::string usage_text(const std::string& program, std::string_view own_options = {});
std::string version_text(const std::string& program);

// The program's name as the user typed it, without its folder ("vexal", "vexalw").
std::string program_name(const char* argv0, const char* fallback);

}  // namespace vx
