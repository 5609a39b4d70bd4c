// The loader's driver: banner, usage, options, port, then the identity query or the argument loop.
//
// Options are taken out of the argument vector in a fixed order (b, p, i, m, then the words "ram"
// and "old"), each by scanning from the last argument down, so the last one of a kind wins; a taken
// argument is blanked (first character set to zero) and every later step skips it. What remains is
// handled in command-line order: a name with a '.' is a command file, '@' a memory command, anything
// else a raw command whose answer must not hold '!' or '?'.
#include <cstdlib>
#include <cstring>

#include "console/finish.h"
#include "console/mprintf.h"
#include "console/transfer.h"
#include "vexal_version.h"
#include "loader/loader.h"
#include "loader/state.h"
#include "protocol/line.h"
#include "serial/link.h"
#include "serial/comdrv.h"
#include "serial/telegram.h"

namespace vx {

namespace {

constexpr short kDefaultPort = kCom1Address;
constexpr signed char kDefaultIrq = 4;
constexpr signed char kDefaultMode = 0;
constexpr int kBaudDigits = 6;
constexpr int kPortDigits = 4;
constexpr char kIdentityQuery[] = "I000000\n";

struct Settings {
  std::uint32_t baud = kDefaultBaud;
  short port = kDefaultPort;
  signed char irq = kDefaultIrq;
  signed char mode = kDefaultMode;
};

void print_banner() {
  mprintf("\n VQ-3140 loader ver. " VEXAL_VERSION_TEXT " (ZARVEN v1.28) (c) 2026 the vexal developers \n");
}

bool asks_for_usage(const char* a) { return a[0] == '?' || (a[0] && a[1] == '?'); }

void usage_test(std::uint32_t argc, char** argv) {
  for (std::uint32_t i = argc; i-- > 1;) {
    if (!asks_for_usage(argv[i])) continue;
    mprintf(" Use: vexal.exe [p3f8] [i4] [b38400] [old] [file(-s)] [command(-s)]\n");
    mprintf(" Option 'old' required for boards with BIOS version prior to 1.28\n");
    mprintf(" Note: All options and commands are case sensitive ! \n");
    finish(ExitCode::Done);
  }
}

// The last argument that begins with the letter and holds no '.'; 0 when there is none.
std::uint32_t find_letter_option(std::uint32_t argc, char** argv, char letter) {
  for (std::uint32_t i = argc; i-- > 1;)
    if (argv[i][0] == letter && !std::strchr(argv[i], '.')) return i;
  return 0;
}

long number_after_letter(const char* arg, int digits, int base) {
  char field[8] = {};
  std::strncpy(field, arg + 1, static_cast<std::size_t>(digits));
  return std::strtol(field, nullptr, base);
}

void take_letter_options(std::uint32_t argc, char** argv, Settings& s) {
  if (std::uint32_t i = find_letter_option(argc, argv, 'b')) {
    s.baud = static_cast<std::uint32_t>(number_after_letter(argv[i], kBaudDigits, 10));
    argv[i][0] = 0;
  }
  if (std::uint32_t i = find_letter_option(argc, argv, 'p')) {
    s.port = static_cast<short>(number_after_letter(argv[i], kPortDigits, 16));
    argv[i][0] = 0;
  }
  if (std::uint32_t i = find_letter_option(argc, argv, 'i')) {
    s.irq = static_cast<signed char>(argv[i][1] - '0');
    argv[i][0] = 0;
  }
  if (std::uint32_t i = find_letter_option(argc, argv, 'm'); i && argv[i][1] >= '0' && argv[i][1] <= '4') {
    s.mode = static_cast<signed char>(argv[i][1] - '0');
    argv[i][0] = 0;
  }
}

std::uint32_t take_word_option(std::uint32_t argc, char** argv, const char* word) {
  for (std::uint32_t i = argc; i-- > 1;) {
    if (std::strcmp(argv[i], word) == 0) {
      argv[i][0] = 0;
      return i;
    }
  }
  return 0;
}

void open_port(const Settings& s) {
  mprintf("Serial UART port:%3x irq:%x baud:%d mode:%x", static_cast<int>(s.port), static_cast<int>(s.irq),
          static_cast<int>(s.baud), s.mode >> 2);
  transfer_phase(Phase::Opening);
  if (zapni_UART(s.port, s.irq, static_cast<int>(s.baud), s.mode) != 0) {
    mprintf("Wrong settings, can't initialize UART\n");
    finish(ExitCode::PortFailed);
  }
  const LinkState& link = link_state();
  mprintf("\rSerial UART port:%3x irq:%x baud:%d mode:%x \n", link.comdrv_port, link.comdrv_irq, link.comdrv_baud,
          link.comdrv_mode >> 2);
  mprintf("UART init O.K.\n");
}

[[noreturn]] void identity_query() {
  mprintf("Target ID:\n");
  transfer_phase(Phase::Identity);
  sendc(kIdentityQuery);
  const char* answer = link_state().o;
  if (!answer[0]) {
    mprintf("Target didn't respond.\n");
    finish(ExitCode::TargetRefused);
  }
  check_last_answer();
  transfer_identity(answer);
  mprintf("%s\n", answer);
  finish(ExitCode::Done);
}

bool is_command_file(const char* a) { return std::strchr(a, '.') && a[0] != '@'; }

void argument_loop(std::uint32_t argc, char** argv) {
  char(&command)[sizeof LoaderState::command] = loader_state().command;
  link_state().o[0] = 0;
  for (std::uint32_t i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (is_command_file(a)) {
      zpracuj_soubor(a);
      continue;
    }
    if (!a[0]) continue;
    std::strncpy(command, a, sizeof command - 2);  // arguments hold at most kMaxArgLength; room for the line feed
    command[sizeof command - 2] = 0;
    if (command[0] == '@') {
      memory_command(command);
    } else {
      std::strcat(command, "\n");
      raw_command(command, CommandFrom::Argument);
    }
  }
}

}  // namespace

int vexal(std::uint32_t argc, char** argv) {
  Settings s;
  print_banner();
  usage_test(argc, argv);
  take_letter_options(argc, argv, s);
  LoaderState& loader = loader_state();
  loader.ramc = take_word_option(argc, argv, "ram");
  loader.olds24 = take_word_option(argc, argv, "old");
  open_port(s);
  if (argc < 2) identity_query();
  argument_loop(argc, argv);
  // Every command file sent its last block as it ended; records no S8 followed refuse success.
  send_pending_block();
  refuse_unconfirmed_records();
  // The last answer may still be repeated: only a quiet line lets the run end with success.
  check_last_answer();
  mprintf("\nLoading completed with no errors.\n");
  return 0;
}

void note_identity_answer(const char* command) {
  if (std::strcmp(command, kIdentityQuery) == 0 && link_state().o[0]) transfer_identity(link_state().o);
}

}  // namespace vx
