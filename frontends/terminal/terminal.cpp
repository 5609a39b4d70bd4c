// vexal: the loader in a terminal.
//
// Takes its own options first, as every front-end does (start_program, loader/session.h: --help,
// --version, --list-ports, --port, --quiet; any other argument with a dash is refused before the port
// is touched), then runs the loader on this
// thread with the remaining arguments and shows the console on standard output: live on a terminal,
// with the progress on the status line; as a log otherwise, byte for byte as the console has it, the
// progress then going to standard error as plain lines. The process status is the run's exit code
// (0 to 9; 1 when the arguments are refused). Standard error also gets what the console has no room
// for: the reason a port can't be opened, the run's error with its exit code, and a summary of the
// bytes moved.
// Ctrl-C or SIGTERM ends the run with "Error: Interrupted." (frontends/terminal/interrupt.h); every
// console line is written out and the port released before the process ends by that signal.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "console/diag.h"
#include "console/finish.h"
#include "console/progress.h"
#include "console/transfer.h"
#include "frontends/terminal/interrupt.h"
#include "frontends/terminal/progress_text.h"
#include "frontends/terminal/terminal_view.h"
#include "loader/cli.h"
#include "loader/session.h"
#include "serial/comdrv.h"

namespace {

constexpr int kRefusedCode = vx::exit_status(vx::ExitCode::ArgumentsRefused);
constexpr int kDone = vx::exit_status(vx::ExitCode::Done);

// --help, --version, --list-ports: the text on standard output.
int show_answer(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kDone : kRefusedCode;
}

// A refused command line: the run reports it (its events), standard error says it; the console, with
// nothing of a run to show, stays off standard output.
int refuse(const vx::RunRequest& request, const std::string& program) {
  const vx::RunOutcome outcome = vx::run_session(request, nullptr);
  std::fprintf(stderr, "%s: %s%s\n", program.c_str(), outcome.error_summary().c_str(), request.hint.c_str());
  return outcome.code;
}

void report_outcome(const vx::RunOutcome& outcome, const std::string& program) {
  const std::int64_t moved = outcome.counts.moved();
  if (moved > 0) std::fprintf(stderr, "%s\n", vx::summary_line(program, moved, outcome.run_time).c_str());
  if (outcome.code != 0)
    std::fprintf(stderr, "%s: error: %s (exit code %d)\n", program.c_str(), outcome.error_summary().c_str(),
                 outcome.code);
  std::fflush(stderr);
}

// Where the progress goes: the status line on a terminal, plain lines on standard error otherwise.
// Plugged into the run after fresh_run, taken out when the run is over.
class ProgressDisplay {
 public:
  ProgressDisplay(vx::TerminalPrinter& printer, bool live, bool quiet, const std::string& program)
      : printer_(printer), lines_(stderr, program) {
    if (!quiet) shown_ = live ? static_cast<vx::TransferView*>(&printer) : &lines_;
  }
  ~ProgressDisplay() {
    vx::set_progress_view(nullptr);
    if (shown_) vx::remove_transfer_view(shown_);
  }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void plug_in() {
    if (shown_ == &printer_) vx::set_progress_view(&printer_);
    if (shown_) vx::add_transfer_view(shown_);
  }

 private:
  vx::TerminalPrinter& printer_;
  vx::ProgressLines lines_;
  vx::TransferView* shown_ = nullptr;  // none with --quiet
};

int run(const vx::ProgramStart& start, const std::string& program) {
  const bool live = ::isatty(STDOUT_FILENO) == 1;
  vx::TerminalPrinter printer(stdout, live, vx::steady_clock(), vx::terminal_columns(stdout, 80));
  vx::RunOutcome outcome;
  {
    ProgressDisplay progress(printer, live, start.quiet, program);
    outcome = vx::run_session(
        start.run, [&printer](char c) { printer.putc(c); }, [&progress] { progress.plug_in(); });
  }
  printer.end();
  report_outcome(outcome, program);
  return outcome.code;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = vx::program_name(argc > 0 ? argv[0] : nullptr, "vexal");
  const vx::ProgramStart start =
      vx::start_program(std::vector<std::string>(argv + 1, argv + argc), program, vx::settings_from_environment());
  if (start.answer) return show_answer(*start.answer);
  if (start.run.refused()) return refuse(start.run, program);
  vx::catch_interruptions();
  int code;
  try {
    code = run(start, program);
  } catch (const std::exception& e) {
    vx::diagnostic(std::string("internal failure: ") + e.what());
    code = kRefusedCode;
  }
  if (const int signal_number = vx::interrupt_signal()) {
    vx::comdrv_close();  // the exclusive flag and the lock go with it; ending by a signal runs no destructor
    vx::end_by_signal(signal_number);
  }
  return code;
}
