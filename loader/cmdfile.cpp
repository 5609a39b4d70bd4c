// Command files.
//
// zpracuj_soubor opens its file once (checked_file.h) and reads it a line at a time through the loader's
// one line reader (lines.h: text mode, lines of at most 245 characters, a longer one in pieces that are
// lines of their own). A regular file is checked whole first, in the one pass that also counts its lines
// for the progress and makes its digest for the run's record (record_head.h: its records, line lengths
// and NUL bytes), so a bad one sends nothing of itself; its lines are then read again through the same
// open, each piece compared with its check before a line of it is carried out. A FIFO or a terminal is
// checked a line at a time as it is read. While a file runs, the memory reads refuse to write over it. Each line
// is classified by its first character and carried out at once; a conditional line whose test matches
// hands its action back to be classified as a line of its own, so actions may be of any kind, other
// conditionals included.
//
// Every run has its own line counter and conditional state (FileRun); the answer buffer `o` (the
// link's state), the option flags, the nesting depth and the block being assembled (the loader's
// state) are shared with the rest of the loader. Nested files stack up to kMaxNesting deep, and a
// nested file's return puts the outer file's own progress count back in force.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "console/diag.h"
#include "console/finish.h"
#include "console/mprintf.h"
#include "console/progress.h"
#include "console/transfer.h"
#include "loader/lines.h"
#include "loader/loader.h"
#include "loader/state.h"
#include "loader/checked_file.h"
#include "loader/record_head.h"
#include "serial/telegram.h"

namespace vx {

namespace {

constexpr char kComment = ';';
constexpr char kMemoryCommand = '@';
constexpr char kConditional = '?';
constexpr char kNestedFile = '#';
constexpr char kExpectedAnswer = '!';
constexpr char kTextEnd = '!';   // ends a test or expected text; before an action or a message
constexpr char kElseIf = '?';    // ??text!action
constexpr char kNoChoice = '!';  // ?!message
constexpr signed char kSpace = 0x20;
constexpr std::size_t kLineBuffer = 256;

// Lines are tested as signed characters, so a byte from 0x80 up counts as a control character.
bool at_most_blank(char c) { return static_cast<signed char>(c) <= kSpace; }
bool below_blank(char c) { return static_cast<signed char>(c) < kSpace; }

// A test or expected text runs up to a '!' or a character outside 0x20..0x7F.
const char* text_end(const char* p) {
  while (*p != kTextEnd && !below_blank(*p)) ++p;
  return p;
}

bool answer_contains(std::string_view text) { return answer().find(text) != std::string_view::npos; }

struct NestingLevel {
  NestingLevel() { ++loader_state().depth; }
  ~NestingLevel() { --loader_state().depth; }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;
};

// The command files being read, for the memory reads that must not write over one of them.
struct OpenCommandFile {
  explicit OpenCommandFile(const CheckedFile& file) { loader_state().command_files.push_back(&file); }
  ~OpenCommandFile() { loader_state().command_files.pop_back(); }
  OpenCommandFile(const OpenCommandFile&) = delete;
  OpenCommandFile& operator=(const OpenCommandFile&) = delete;
};

struct FileRun {
  const char* soubor;
  int own_count = 0;
  unsigned line = 0;
  unsigned lastcond = 0;
  const char* ll = "";  // the line being carried out, as read, for the error that names it
};

void nested_file(const FileRun& run, const char* p) {
  char name[kLineBuffer] = {};
  std::size_t n = 0;
  for (const char* c = p + 1; !at_most_blank(*c) && n + 1 < sizeof name; ++c) name[n++] = *c;
  zpracuj_soubor(name);
  pbar_restore(run.own_count, run.soubor);
}

void expected_answer(const char* p) {
  const char* text = p + 1;
  const char* end = text_end(text);
  if (answer_contains(std::string_view(text, static_cast<std::size_t>(end - text)))) return;
  if (*end == kTextEnd)
    mprintf("Error: %s\n", end + 1);
  else
    mprintf("Error: Incorrect response.\n");
  finish(ExitCode::NegativeAnswer);
}

[[noreturn]] void no_choice(const char* message) {
  if (!below_blank(message[0]))
    mprintf("Error: %s\n", message);
  else
    mprintf("Error: No choice.\n");
  finish(ExitCode::NegativeAnswer);
}

// Returns the action of a branch taken, nullptr when the line ends here.
const char* conditional(FileRun& run, const char* p) {
  if (p[1] == kNoChoice) {
    if (!run.lastcond) no_choice(p + 2);
    return nullptr;
  }
  const char* text = p + 1;
  if (p[1] == kElseIf) {
    if (run.lastcond) return nullptr;
    text = p + 2;
  }
  const char* end = text_end(text);
  if (*end != kTextEnd) {
    mprintf("Error: Bad syntax:%s line:%d :%s\n", run.soubor, run.line, run.ll);
    finish(ExitCode::UnclosedCondition);
  }
  // Set before the action runs, so the chain's later branches stay skipped whatever it sends.
  run.lastcond = answer_contains(std::string_view(text, static_cast<std::size_t>(end - text))) ? 1 : 0;
  return run.lastcond ? end + 1 : nullptr;
}

// S1, S3, S7 and S9 lines of a command file go to the board as text, a telegram and an answer each:
// the first one a run sends says once, on standard error, that "@load" packs them into blocks.
void hint_at_text_record(const FileRun& run, const char* p) {
  const char type = p[0] == record::kMark ? p[record::kTypePos] : '\0';
  if (type == '\0' || !std::strchr("1379", type) || loader_state().text_record_hinted) return;
  loader_state().text_record_hinted = true;
  diagnostic(std::string("line ") + std::to_string(run.line) + " of " + run.soubor + ": S" + type +
             " records in a command file go to the board one by one as text; @load<FILE packs them into blocks");
}

// The records the download packs: S2 data and the S8 end.
bool is_download_record(const char* p) {
  return record::is_record(p, record::kDataType) || record::is_record(p, record::kTerminationType);
}

bool is_packed_record(const char* p) { return is_download_record(p) && loader_state().olds24 == 0; }

// Under "old" the records go as text, read whole first as packed ones are (a conditional's action was
// not in the file's check).
void check_text_record(const FileRun& run, const char* p) {
  if (loader_state().olds24 && is_download_record(p))
    static_cast<void>(record::read_record(p, record::Place{run.soubor, run.line}));
}

// Under "old" an S2 sent waits for its S8 all the same.
void note_text_record(const FileRun& run, const char* p) {
  if (!loader_state().olds24) return;
  if (record::is_record(p, record::kDataType)) loader_state().unconfirmed_records = run.soubor;
  if (record::is_record(p, record::kTerminationType)) loader_state().unconfirmed_records.clear();
}

// One line of any kind; a conditional's action comes back here without being counted or skipped.
void handle_line(FileRun& run, const char* p) {
  while (p) {
    const char* action = nullptr;
    switch (p[0]) {
      case kMemoryCommand: memory_command(p); break;
      case kConditional: action = conditional(run, p); break;
      case kNestedFile: nested_file(run, p); break;
      case kExpectedAnswer: expected_answer(p); break;
      default:
        if (is_packed_record(p)) {
          binwrite(p, record::Place{run.soubor, run.line});
        } else {
          check_text_record(run, p);
          hint_at_text_record(run, p);
          raw_command(p, CommandFrom::File);
          note_text_record(run, p);
        }
    }
    p = action;
  }
}

void refuse_deeper_nesting(const char* soubor) {
  if (loader_state().depth < kMaxNesting) return;
  mprintf("Error: Command files nested deeper than %2d: %s \n", kMaxNesting, soubor);
  finish(ExitCode::FileFailed);
}

}  // namespace

namespace {

// The progress of this file: its line count from the check, or unknown; put back after a nested file.
void start_progress(FileRun& run, const record::FileSurvey& survey) {
  resetpbar();
  pbar_restore(survey.lines, run.soubor);
  run.own_count = survey.lines;
}

// What standard error says when the file's bytes are found changed under the run.
std::string carried_out(const FileRun& run) {
  if (run.line == 0) return "none of its lines had been carried out";
  return "its lines 1 to " + std::to_string(run.line) + " had been carried out, none after them";
}

}  // namespace

void zpracuj_soubor(const char* soubor) {
  refuse_deeper_nesting(soubor);
  NestingLevel level;
  FileRun run{soubor};
  CheckedFile file(soubor);
  LineReader::refuse_endless_device(file);
  const OpenCommandFile open(file);
  mprintf("\nLoading: %s\n", soubor);
  const record::FileSurvey survey = record::survey_file(file);
  transfer_file_opened(file.record(loader_state().depth > 1 ? FileRole::Nested : FileRole::Command));
  start_progress(run, survey);
  file.describe_progress([&run] { return carried_out(run); });
  record::FileCheck check(soubor);
  TransferScope transfer(Phase::Loading, soubor, survey.declared_bytes);
  LineReader f(file);
  LineReader::Line line;
  while (f.next(line)) {
    check_interrupt();  // a job of lines that send nothing (comments, tests) still stops on Ctrl-C
    run.line = line.number;
    setpbar(static_cast<int>(run.line));
    if (!survey.checked) check.line(line.text, line.number);
    if (line.text[0] == kComment || at_most_blank(line.text[0])) continue;
    run.ll = line.text;
    handle_line(run, line.text);
    // Packed records count when their block is accepted (srec.cpp); under "old" each goes as it is.
    if (loader_state().olds24) transfer_advance(record::declared_data_bytes(line.text));
  }
  // The file's last block goes now, before whatever follows the file reads or writes the board.
  send_pending_block();
  f.close();
  resetpbar();
}

}  // namespace vx
