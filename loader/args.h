// The argument vector handed to vexal: up to 127 arguments of at most 127 characters, argument 0 empty.
//
// Every front-end builds it here, and ends a run whose arguments it refuses with refuse_run. Terminal: from the
// process's own argv. Window: by splitting the command line at single spaces (two spaces give an argument that begins
// with a space; a trailing space gives an empty last argument). Input beyond the vector's rows is refused, never cut.
#pragma once

#include <string>
#include <vector>

namespace vx {

inline constexpr int kMaxArgs = 127;       // rows 1..127
inline constexpr int kMaxArgLength = 127;  // characters, plus the terminating zero
inline constexpr int kMaxCommandLine = 255;

struct ArgVector {
  char cmdpar[kMaxArgs + 1][kMaxArgLength + 1] = {};  // row 0 is the program's, left empty
  char* cmdpar2[kMaxArgs + 1] = {};
  int cmdno = 0;  // number of arguments; argc for vexal is cmdno + 1
  ArgVector();
  ArgVector(const ArgVector&) = delete;
  ArgVector& operator=(const ArgVector&) = delete;
  unsigned argc() const { return static_cast<unsigned>(cmdno) + 1; }
  char** argv() { return cmdpar2; }
};

// Fills `out` from separate arguments (without the program's name). On refusal returns false and sets
// `error` to the line to show (it begins with "Error").
bool args_from_list(const std::vector<std::string>& args, ArgVector& out, std::string& error);

// Fills `out` by the single-space split of a command line (after the program's name).
bool args_from_command_line(const std::string& line, ArgVector& out, std::string& error);

// The same split into separate arguments, for the front-end's options (loader/cli.h) to be taken first.
bool split_command_line(const std::string& line, std::vector<std::string>& out, std::string& error);

// The command line after the program's own name: its first word and the spaces after it skipped.
std::string skip_program_name(const std::string& full_command_line);

// Every front-end ends a refused run this way, so a refusal reads like a run the loader ended: the
// refusal's "Error" line, then "Exit code 1", on the console. Returns the status of
// ExitCode::ArgumentsRefused.
int refuse_run(const std::string& error);

}  // namespace vx
