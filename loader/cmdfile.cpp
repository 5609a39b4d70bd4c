// Command files.
//
// zpracuj_soubor reads its file a line at a time the way the original platform's text mode reads it:
// a CR LF pair comes in as one line feed, a Ctrl-Z byte ends the file, and a line longer than the
// buffer arrives in pieces of 245 characters (the line feed counted), each piece a line of its own.
// Each line is classified by its first character and carried out at once; a conditional line whose
// test matches hands its action back to be classified as a line of its own, so actions may be of any
// kind, other conditionals included.
//
// Every run has its own line counter and conditional state (FileRun); the answer buffer `o`, the
// option flags and the block being assembled are shared with the rest of the loader. Nested files
// stack up to kMaxNesting deep, and a nested file's return puts the outer file's own progress count
// back in force.
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "console/finish.h"
#include "console/mprintf.h"
#include "console/progress.h"
#include "loader/loader.h"
#include "serial/telegram.h"

namespace vx {

namespace {

constexpr int kFileExit = 3;
constexpr int kNegativeExit = 6;
constexpr int kNoChoiceExit = 7;
constexpr int kBadSyntaxExit = 8;
constexpr int kMemoryCommandExit = 9;

constexpr char kComment = ';';
constexpr char kMemoryCommand = '@';
constexpr char kConditional = '?';
constexpr char kNestedFile = '#';
constexpr char kExpectedAnswer = '!';
constexpr char kTextEnd = '!';      // ends a test or expected text; before an action or a message
constexpr char kElseIf = '?';       // ??text!action
constexpr char kNoChoice = '!';     // ?!message
constexpr char kSRecord = 'S';
constexpr char kDataRecord = '2';
constexpr char kTerminationRecord = '8';
constexpr char kNegativeMarks[] = "!?";
constexpr signed char kSpace = 0x20;
constexpr int kCtrlZ = 0x1A;
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr std::size_t kLineBuffer = 256;

// Lines are tested as signed characters, so a byte from 0x80 up counts as a control character.
bool at_most_blank(char c) { return static_cast<signed char>(c) <= kSpace; }
bool below_blank(char c) { return static_cast<signed char>(c) < kSpace; }

// A test or expected text runs up to a '!' or a character outside 0x20..0x7F.
const char* text_end(const char* p) {
  while (*p != kTextEnd && !below_blank(*p)) ++p;
  return p;
}

std::string_view answer() { return std::string_view(o, strnlen(o, sizeof o)); }
bool answer_contains(std::string_view text) { return answer().find(text) != std::string_view::npos; }

class TextModeFile {
 public:
  enum class Read { Line, End, Failed };

  explicit TextModeFile(const char* name) : f_(std::fopen(name, "rb")) {}
  ~TextModeFile() { close(); }
  TextModeFile(const TextModeFile&) = delete;
  TextModeFile& operator=(const TextModeFile&) = delete;

  bool is_open() const { return f_ != nullptr; }

  // Like fgets into a buffer of `cap`: at most cap-1 characters, a line feed kept and ending the read.
  Read read_line(char* buf, std::size_t cap) {
    std::size_t n = 0;
    while (n + 1 < cap) {
      int c = next();
      if (c == EOF) break;
      buf[n++] = static_cast<char>(c);
      if (c == kLineFeed) break;
    }
    buf[n] = '\0';
    if (failed_) return Read::Failed;
    return n ? Read::Line : Read::End;
  }

  // The file was only read: a failing close loses nothing, so its result is not acted on.
  void close() {
    if (f_) static_cast<void>(std::fclose(f_));
    f_ = nullptr;
  }

 private:
  static constexpr int kNothingHeld = -2;

  int raw() {
    if (pos_ == len_) {
      len_ = std::fread(buf_.data(), 1, buf_.size(), f_);
      pos_ = 0;
      if (len_ == 0) {
        failed_ = std::ferror(f_) != 0;
        return EOF;
      }
    }
    return static_cast<unsigned char>(buf_[pos_++]);
  }

  int next() {
    if (ended_) return EOF;
    int c = held_ != kNothingHeld ? held_ : raw();
    held_ = kNothingHeld;
    if (c == EOF || c == kCtrlZ) {
      ended_ = true;
      return EOF;
    }
    if (c != kCarriageReturn) return c;
    int after = raw();
    if (after == kLineFeed) return kLineFeed;
    held_ = after;
    return c;
  }

  std::FILE* f_;
  std::array<char, 4096> buf_{};
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  int held_ = kNothingHeld;
  bool ended_ = false;
  bool failed_ = false;
};

int g_depth = 0;

struct NestingLevel {
  NestingLevel() { ++g_depth; }
  ~NestingLevel() { --g_depth; }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;
};

struct FileRun {
  const char* soubor;
  int own_count = 0;
  unsigned line = 0;
  unsigned lastcond = 0;
  char b[kLineBuffer] = {};
  char ll[kLineBuffer] = {};
};

void memory_command(const char* p) {
  mprintf("Executing:%s\n", p);
  if (const char* error = zpracuj_prikaz(p)) {
    mprintf("Error: %s:%s \n", error, p);
    finish(kMemoryCommandExit);
  }
}

void raw_command(const char* p) {
  mprintf("\rSend: %s", p);
  sendc(p);
  mprintf("\rAnswer: %s", o);
  if (answer().find_first_of(kNegativeMarks) != std::string_view::npos) {
    mprintf("Error: Negative response.\n");
    finish(kNegativeExit);
  }
}

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
  finish(kNoChoiceExit);
}

[[noreturn]] void no_choice(const char* message) {
  if (!below_blank(message[0]))
    mprintf("Error: %s\n", message);
  else
    mprintf("Error: No choice.\n");
  finish(kNoChoiceExit);
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
    finish(kBadSyntaxExit);
  }
  // Set before the action runs, so the chain's later branches stay skipped whatever it sends.
  run.lastcond = answer_contains(std::string_view(text, static_cast<std::size_t>(end - text))) ? 1 : 0;
  return run.lastcond ? end + 1 : nullptr;
}

bool is_packed_record(const char* p) {
  return p[0] == kSRecord && (p[1] == kDataRecord || p[1] == kTerminationRecord) && olds24 == 0;
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
        if (is_packed_record(p))
          binwrite(p);
        else
          raw_command(p);
    }
    p = action;
  }
}

void refuse_deeper_nesting(const char* soubor) {
  if (g_depth < kMaxNesting) return;
  mprintf("Error: Command files nested deeper than %2d: %s \n", kMaxNesting, soubor);
  finish(kFileExit);
}

}  // namespace

void zpracuj_soubor(const char* soubor) {
  refuse_deeper_nesting(soubor);
  NestingLevel level;
  FileRun run{soubor};
  initpbar(soubor);
  run.own_count = pbar_count();
  TextModeFile f(soubor);
  if (!f.is_open()) {
    mprintf("Error: Can't open file %s \n", soubor);
    finish(kFileExit);
  }
  mprintf("\nLoading: %s\n", soubor);
  for (;;) {
    ++run.line;
    TextModeFile::Read r = f.read_line(run.b, kMaxFileLine + 1);
    if (r == TextModeFile::Read::End) break;
    if (r == TextModeFile::Read::Failed) {
      // A read error taken as the end of the file would report a partial job as a success.
      mprintf("Error: Can't read file %s \n", soubor);
      finish(kFileExit);
    }
    setpbar(static_cast<int>(run.line));
    if (run.b[0] == kComment || at_most_blank(run.b[0])) continue;
    std::memcpy(run.ll, run.b, sizeof run.ll);
    handle_line(run, run.b);
  }
  f.close();
  resetpbar();
}

void cmdfile_reset() { g_depth = 0; }

}  // namespace vx
