#include "loader/args.h"

#include <cstring>

#include "console/console.h"
#include "console/exit_code.h"
#include "console/finish.h"

namespace vx {

ArgVector::ArgVector() {
  for (int k = 0; k <= kMaxArgs; ++k) cmdpar2[k] = cmdpar[k];
}

namespace {
std::string too_many() { return "Error: Too many arguments (at most " + std::to_string(kMaxArgs) + ")."; }
std::string too_long(int k) {
  return "Error: Argument " + std::to_string(k) + " is longer than " + std::to_string(kMaxArgLength) + " characters.";
}
}  // namespace

bool args_from_list(const std::vector<std::string>& args, ArgVector& out, std::string& error) {
  if (args.size() > static_cast<std::size_t>(kMaxArgs)) {
    error = too_many();
    return false;
  }
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (args[k].size() > static_cast<std::size_t>(kMaxArgLength)) {
      error = too_long(static_cast<int>(k) + 1);
      return false;
    }
    std::memcpy(out.cmdpar[k + 1], args[k].c_str(), args[k].size() + 1);
  }
  out.cmdpar[0][0] = 0;
  out.cmdno = static_cast<int>(args.size());
  return true;
}

// Pieces between single spaces: a space right after a space begins the next argument, and a space
// at the very end leaves an empty last argument.
bool args_from_command_line(const std::string& line, ArgVector& out, std::string& error) {
  if (line.size() > static_cast<std::size_t>(kMaxCommandLine)) {
    error = "Error: Command line longer than " + std::to_string(kMaxCommandLine) + " characters.";
    return false;
  }
  int cmdno = 1;
  std::size_t j = 0;
  for (std::size_t ii = 0; ii < line.size();) {
    if (line[ii] == ' ') {
      ++ii;
      out.cmdpar[cmdno][j] = 0;
      if (++cmdno > kMaxArgs) {
        error = too_many();
        return false;
      }
      j = 0;
      if (ii == line.size()) break;
    }
    if (j >= static_cast<std::size_t>(kMaxArgLength)) {
      error = too_long(cmdno);
      return false;
    }
    out.cmdpar[cmdno][j++] = line[ii++];
  }
  out.cmdpar[0][0] = 0;
  out.cmdpar[cmdno][j] = 0;
  out.cmdno = line.empty() ? 0 : cmdno;
  return true;
}

bool split_command_line(const std::string& line, std::vector<std::string>& out, std::string& error) {
  ArgVector split;
  if (!args_from_command_line(line, split, error)) return false;
  out.assign(split.cmdpar + 1, split.cmdpar + 1 + split.cmdno);
  return true;
}

// The first word is the program's name; a quoted name (a path with spaces) ends at its closing quote.
std::string skip_program_name(const std::string& full) {
  std::size_t i = 0;
  if (!full.empty() && full[0] == '"') {
    std::size_t close = full.find('"', 1);
    i = close == std::string::npos ? full.size() : close + 1;
  }
  while (i < full.size() && full[i] != ' ') ++i;
  while (i < full.size() && full[i] == ' ') ++i;
  return full.substr(i);
}

// The error line goes to the console character by character: it is shown as it is, never read as a
// format.
int refuse_run(const std::string& error) {
  for (char c : error) li_putc(c);
  li_putc('\n');
  print_exit_code(ExitCode::ArgumentsRefused);
  return exit_status(ExitCode::ArgumentsRefused);
}

}  // namespace vx
