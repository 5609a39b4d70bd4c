// The codes a run ends with, and what each means: the one list that finish, the stderr outcome line,
// --help, the window's end box and the event channel all take their codes and words from (the
// README's exit-code table is checked against it by tests/unit/test_outcome.cpp).
//
// A run the loader ends carries one of these; a run a signal ends carries signal_exit_status, as a shell
// reports it (console/finish.h), which is why RunEnded and RunOutcome hold a plain int.
#pragma once

namespace vx {

enum class ExitCode : int {
  Done = 0,               // the run did its work (or showed the usage, the version, the ports)
  ArgumentsRefused = 1,   // the command line never reached the loader
  PortFailed = 2,         // "Wrong settings, can't initialize UART"
  FileFailed = 3,         // a file can't be read or written, a line is too long, a record is malformed
  TargetRefused = 4,      // no identity in the answer, or a block never accepted
  NoResponse = 5,         // nine attempts of a text telegram without an answer
  NegativeInFile = 6,     // a negative answer to a command file's line or to the S8 record
  NegativeAnswer = 7,     // a negative or missing answer, a conditional chain without a branch
  UnclosedCondition = 8,  // a conditional line without its closing '!'
  MemoryFailed = 9,       // a memory command refused or out of range, or the memory differs
};

struct ExitCodeMeaning {
  ExitCode code;
  const char* meaning;  // one short phrase, as --help and the end box show it
};

// Every code, in order.
inline constexpr ExitCodeMeaning kExitCodes[] = {
    {ExitCode::Done, "done"},
    {ExitCode::ArgumentsRefused, "the arguments were refused"},
    {ExitCode::PortFailed, "the port could not be opened or set up"},
    {ExitCode::FileFailed, "a file could not be read or written, or a record is malformed"},
    {ExitCode::TargetRefused, "the board did not answer, or refused a block"},
    {ExitCode::NoResponse, "no response from the board, or an answer nobody asked for"},
    {ExitCode::NegativeInFile, "a negative answer to a command file's line"},
    {ExitCode::NegativeAnswer, "a negative or missing answer"},
    {ExitCode::UnclosedCondition, "a conditional line without its closing '!'"},
    {ExitCode::MemoryFailed, "a memory command failed, or the memory differs"},
};

// The process status for a code.
constexpr int exit_status(ExitCode code) { return static_cast<int>(code); }

// The status of a run a signal ended: 128 + the signal, as a shell reports a process it ended.
constexpr int signal_exit_status(int signal_number) {
  constexpr int kSignalStatusBase = 128;
  return kSignalStatusBase + signal_number;
}

// The meaning of a run's exit status; "the run was ended" for one no code has (a signal's).
constexpr const char* exit_code_meaning(int status) {
  for (const ExitCodeMeaning& known : kExitCodes)
    if (exit_status(known.code) == status) return known.meaning;
  return "the run was ended";
}

}  // namespace vx
