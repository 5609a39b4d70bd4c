#include "loader/cli.h"

#include <algorithm>
#include <string_view>

#include "console/exit_code.h"
#include "protocol/line.h"
#include "serial/comdrv.h"

namespace vx {
namespace {

constexpr std::string_view kEndOfOptions = "--";
constexpr std::string_view kPortOption = "--port";
constexpr std::string_view kPortAssign = "--port=";
constexpr std::string_view kLoaderUsage = "-?";

// Takes one option; returns false when the line is refused (cl.refusal says why) and sets `done`
// when the action is decided (help, version, list).
bool take_option(const std::vector<std::string>& args, std::size_t& i, CommandLine& cl) {
  const std::string& a = args[i];
  using A = CommandLine::Action;
  if (a == "-h" || a == "--help")
    cl.action = A::Help;
  else if (a == "-V" || a == "--version")
    cl.action = A::Version;
  else if (a == "--list-ports")
    cl.action = A::ListPorts;
  else if (a == "-q" || a == "--quiet")
    cl.quiet = true;
  else if (a == "--ignore-checksums")
    cl.ignore_checksums = true;
  else if (a.starts_with(kPortAssign))
    cl.port = a.substr(kPortAssign.size());
  else if (a == "-P" || a == kPortOption) {
    if (i + 1 >= args.size()) {
      cl.refusal = "option '" + a + "' needs a device";
      return false;
    }
    cl.port = args[++i];
  } else {
    cl.refusal = "unknown option '" + a + "'";
    return false;
  }
  if (cl.port.empty() && a.starts_with(kPortAssign)) {
    cl.refusal = "option '--port' needs a device";
    return false;
  }
  return true;
}

bool is_option(const std::string& a) { return a.size() > 0 && a[0] == '-' && !a.starts_with(kLoaderUsage); }

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args) {
  CommandLine cl;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!options_end && args[i] == kEndOfOptions) {
      options_end = true;
    } else if (options_end || !is_option(args[i])) {
      cl.loader_args.push_back(args[i]);
    } else if (!take_option(args, i, cl)) {
      cl.action = CommandLine::Action::Refused;
      return cl;
    } else if (cl.action != CommandLine::Action::Run) {
      return cl;
    }
  }
  return cl;
}

std::string version_text(const std::string& program) {
  return program + " " + kVexalVersion + " (VQ-3140 loader, ZARVEN v1.28)\n";
}

std::string program_name(const char* argv0, const char* fallback) {
  if (!argv0 || !*argv0) return fallback;
  std::string_view name(argv0);
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.ends_with(".exe")) name.remove_suffix(4);
  return name.empty() ? std::string(fallback) : std::string(name);
}

}  // namespace vx

namespace vx {
namespace {

// "%s" stands for the program's name, "%o" for the front-end's own options, "%b" for the baud rates,
// "%x" for the exit codes' paragraph.
constexpr std::string_view kUsage =
    R"(Usage: %s [OPTION]... [p3f8|p2f8] [iN] [bBAUD] [m0..m4] [old] [ram] [FILE]... [COMMAND]...
Serial-line loader for the VQ-3140 board (BIOS ZARVEN): downloads S-record firmware, sends
commands, reads and writes the board's memory, runs command files. Without arguments it asks the
board for its identity. Arguments are handled in order; the first error ends the run.

Options (before "--"; every argument after "--" goes to the loader as it is):
%o  -P, --port DEV      the device COM1 opens (ahead of VEXAL_COM1), e.g. /dev/ttyUSB0 or COM7,
                      or a board on another host: rfc2217://HOST:PORT or tcp://HOST:PORT
      --list-ports    list the serial ports present (device, by-id name, VID:PID, serial, description)
  -q, --quiet         no progress display
      --ignore-checksums
                      take S-records whose checksum is wrong (hand-made files whose checksums
                      were never right); every other check of a record stays
  -h, --help          this text
  -V, --version       the version
  ?                   the loader's own usage lines

Loader arguments (case-sensitive; the last of a kind wins):
  bBAUD               %b
  p3f8, p2f8          COM1 (default) or COM2
  iN                  the IRQ (recorded only)
  m0..m4              parity: 0 none, 1 odd, 2 even, 3 odd, 4 none
  old                 BIOS before 1.28: S-records go line by line as text
  ram                 accepted for compatibility
  NAME.EXT            a command file (an S-record file is one too)
  @binget012300,000100>dump.bin   read 0x100 bytes from 0x012300 into a binary file
  @hexget012300,000100>dump.txt   the same as a hex dump
  @binput012300<image.bin         write a file into memory from 0x012300 on
  @verify<firmware.s28            compare the memory with an S-record file
  @load<firmware.elf              download S-records (S1/S2/S3), Intel HEX or ELF as blocks, all checked
                                  first; the format is read from the content, not the name
  @load012300<image.bin           download a raw binary from 0x012300 on, as blocks
  @verify<firmware.hex            compare with what @load writes (also @verify012300<image.bin)
  anything else       a raw command: sent with a line feed; '!' or '?' in the answer fails

Command-file lines, by their first character:
  ;comment  S2/S8 records  @memory command  #nested file  !expected answer[!message]
  ?text!action  ??text!action  ??!action  ?!message  ~command without answer  other: raw command

Environment:
  VEXAL_COM1, VEXAL_COM2  the devices of COM1 and COM2 (default /dev/ttyS0, /dev/ttyS1), or URLs
  VEXAL_WINDOW=full       wait out the whole read window after every answer
  VEXAL_TRACE=FILE        append every frame sent and received to FILE
  VEXAL_EVENTS=FD|FILE    write machine-readable events (JSON lines) to a descriptor or a file
  VEXAL_DEV_ROOT, VEXAL_SYSFS_ROOT  where --list-ports looks (default /dev, /sys)

%x
The console log goes to standard output; progress, errors and a summary to standard error.
)";

constexpr std::size_t kUsageWidth = 100;

// The words of `flat` (single blanks between them) in lines of at most `width` columns.
std::string wrapped(const std::string& flat, std::size_t width) {
  std::string text;
  std::size_t line_length = 0;
  for (std::size_t start = 0; start < flat.size();) {
    const std::size_t end = std::min(flat.find(' ', start), flat.size());
    const std::string_view word(flat.data() + start, end - start);
    if (line_length == 0) {
      line_length = word.size();
    } else if (line_length + 1 + word.size() > width) {
      text += '\n';
      line_length = word.size();
    } else {
      text += ' ';
      line_length += 1 + word.size();
    }
    text += word;
    start = end + 1;
  }
  return text;
}

// "2400, ..., 38400 (default), ..." from the rates the port takes.
std::string baud_rates_text() {
  std::string text;
  for (int rate : kBaudRates) {
    if (!text.empty()) text += ", ";
    text += std::to_string(rate);
    if (rate == static_cast<int>(kDefaultBaud)) text += " (default)";
  }
  return text;
}

// "Exit codes: 0 done; 1 ...; 9 ...." from the codes' own list.
std::string exit_codes_paragraph() {
  std::string flat = "Exit codes:";
  for (const ExitCodeMeaning& known : kExitCodes)
    flat += " " + std::to_string(exit_status(known.code)) + " " + known.meaning + ";";
  flat.back() = '.';
  return wrapped(flat, kUsageWidth);
}

}  // namespace

std::string usage_text(const std::string& program, std::string_view own_options) {
  std::string text(kUsage);
  text.replace(text.find("%b"), 2, baud_rates_text());  // first: the others are texts from outside
  text.replace(text.find("%s"), 2, program);
  text.replace(text.find("%o"), 2, own_options);
  text.replace(text.find("%x"), 2, exit_codes_paragraph());
  return text;
}

}  // namespace vx
