// One command, from the loader's arguments or from a command file: the same steps and messages either
// way, but for two things a caller's script reads to tell them apart: the "Send" label ("Send scmd:"
// for an argument) and the exit code of a negative answer (7 for an argument, 6 in a command file).
//
// A block still being packed goes to the board before the command: a text record, an end record or a
// command that reads or writes memory must find the board as the lines before it left it.
#include <string_view>

#include "console/finish.h"
#include "console/mprintf.h"
#include "loader/loader.h"
#include "protocol/answer.h"
#include "serial/link.h"
#include "serial/telegram.h"

namespace vx {

namespace {

// The formats stay literal at each call, so the formatter sees them as written.
void show_sent(const char* text, CommandFrom from) {
  if (from == CommandFrom::Argument)
    mprintf("\rSend scmd: %s", text);
  else
    mprintf("\rSend: %s", text);
}

ExitCode negative_exit(CommandFrom from) {
  return from == CommandFrom::Argument ? ExitCode::NegativeAnswer : ExitCode::NegativeInFile;
}

}  // namespace

void memory_command(const char* text) {
  mprintf("Executing:%s\n", text);
  send_pending_block();
  if (const char* error = zpracuj_prikaz(text)) {
    mprintf("Error: %s:%s \n", error, text);
    finish(ExitCode::MemoryFailed);
  }
}

void raw_command(const char* text, CommandFrom from) {
  send_pending_block();
  show_sent(text, from);
  sendc(text);
  note_identity_answer(text);
  mprintf("\rAnswer: %s", link_state().o);
  if (answer().find_first_of(answers::kNegativeMarks) != std::string_view::npos) {
    mprintf("Error: Negative response.\n");
    finish(negative_exit(from));
  }
}

}  // namespace vx
