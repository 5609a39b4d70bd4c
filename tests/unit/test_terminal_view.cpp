// What the terminal front-end prints as a log when standard output is not a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "frontends/terminal/progress_text.h"
#include "frontends/terminal/terminal_view.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

// What a FILE* received, read back when the test is done with it.
class Captured {
 public:
  Captured() : out(open_memstream(&buf_, &size_)) {}
  ~Captured() { std::free(buf_); }
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;
  std::string text() {
    std::fflush(out);
    return std::string(buf_, size_);
  }
  void close() { std::fclose(out); }
  std::FILE* out;

 private:
  char* buf_ = nullptr;
  std::size_t size_ = 0;
};

TransferProgress progress_of(const char* file, std::int64_t done, std::int64_t total, long millis) {
  TransferProgress p;
  p.phase = Phase::Loading;
  p.file = file;
  p.done = done;
  p.total = total;
  p.elapsed = Millis(millis);
  return p;
}

// The last redraw of the status line: what follows the last carriage return, escape sequence removed.
std::string last_status(const std::string& terminal) {
  std::string line = terminal.substr(terminal.rfind('\r') + 1);
  return line.substr(0, line.find("\x1b[K"));
}

std::string log_of(const std::string& stream) {
  char* buf = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buf, &size);
  test::FakeClock clock;
  {
    TerminalPrinter p(out, false, clock);
    for (char c : stream) p.putc(c);
    p.end();
  }
  std::fclose(out);
  std::string s(buf, size);
  std::free(buf);
  return s;
}

TEST(TerminalLog, EachLineOnceTrailingBlanksRemoved) {
  const struct {
    const char* name;
    std::string stream;
    std::string log;
  } cases[] = {
      {"settings line overwritten", "\n banner \nSerial A\rSerial B \nExit code     0",
       "\n banner\nSerial B\nExit code     0\n"},
      {"carriage return discards the line", "\nSend: X" + std::string(10, ' ') + "\rAnswer: OK  \n",
       "\nAnswer: OK\n\n"},
      {"break-completed blank lines left out", "\n\rAnswer: OK" + std::string(243, ' ') + "\rNext\n",
       "\nAnswer: OK\nNext\n\n"},
      {"80-column break writes the line", "\n" + std::string(85, 'x'),
       "\n" + std::string(80, 'x') + "\n" + std::string(5, 'x') + "\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(log_of(c.stream), c.log) << c.name;
}

// The console's text comes first: "OK" is never cut for the progress; the fullest tail that fits.
TEST(TerminalStatus, TheFullestTailThatFitsBesideTheConsolesText) {
  const struct {
    const char* name;
    std::string console;
    std::string status;
  } cases[] = {
      {"room for everything", "Loading: fw.s28", "Loading: fw.s28  [fw.s28 65536/237664 B, 9362 B/s, 18 s left]"},
      {"file name left out", "\rPacking...   Sending block 012300   OK",
       "Packing...   Sending block 012300   OK  [65536/237664 B, 9362 B/s, 18 s left]"},
      {"percent only", std::string(50, 'x') + "OK", std::string(50, 'x') + "OK  [27%]"},
      {"no room: no tail, console whole", std::string(75, 'x') + "OK", std::string(75, 'x') + "OK"},
  };
  for (const auto& c : cases) {
    Captured cap;
    test::FakeClock clock;
    TerminalPrinter p(cap.out, true, clock, 80);
    for (char ch : c.console) p.putc(ch);
    clock.advance(Millis(100));  // past the redraw pacing
    p.progress(progress_of("fw.s28", 65536, 237664, 7000));
    EXPECT_EQ(last_status(cap.text()), c.status) << c.name;
    cap.close();
  }
}

TEST(TerminalStatus, ACommandFileWithoutDataShowsItsLinePercentage) {
  Captured cap;
  test::FakeClock clock;
  TerminalPrinter p(cap.out, true, clock, 80);
  p.show("job.txt");
  p.set_position(150);
  p.phase_started(Phase::Loading, "job.txt");
  for (char ch : std::string("Send: I000000")) p.putc(ch);
  clock.advance(Millis(100));
  p.set_position(150);
  EXPECT_EQ(last_status(cap.text()), "Send: I000000  [job.txt 100%]");
  cap.close();
}

TEST(ProgressText, TimesRatesAndTheSummary) {
  EXPECT_EQ(time_text(Millis(400)), "0 s");
  EXPECT_EQ(time_text(Millis(59400)), "59 s");
  EXPECT_EQ(time_text(Millis(187000)), "3:07");
  EXPECT_EQ(time_text(Millis(3723000)), "1:02:03");
  EXPECT_EQ(rate_text(9381.4), "9381 B/s");
  EXPECT_EQ(summary_line("vexal", 237664, Millis(24810)), "vexal: 237664 bytes in 24.8 s (9.6 kB/s)");
  EXPECT_EQ(summary_line("vexal", 5, Micros(0)), "vexal: 5 bytes in 0.0 s (0.0 kB/s)");
}

// Piped, the progress is one plain line per further tenth: no carriage return, no escape sequence.
TEST(ProgressLines, OneLineAtEachFurtherTenth) {
  Captured cap;
  ProgressLines lines(cap.out, "vexal");
  lines.phase_started(Phase::Opening, "");
  lines.phase_started(Phase::Loading, "fw.s28");
  for (std::int64_t done : {50, 99, 100, 150, 340, 350, 1000, 1000})
    lines.progress(progress_of("fw.s28", done, 1000, 2000));
  lines.phase_started(Phase::Verifying, "fw.s28");  // nested: its own tenths
  lines.progress(progress_of("fw.s28", 600, 1000, 1000));
  lines.transfer_ended();
  lines.progress(progress_of("fw.s28", 1000, 1000, 2000));  // the outer one resumed: already shown
  lines.transfer_ended();
  EXPECT_EQ(cap.text(),
            "vexal: loading fw.s28: 10% (100 of 1000 bytes, 50 B/s, 18 s left)\n"
            "vexal: loading fw.s28: 30% (340 of 1000 bytes, 170 B/s, 4 s left)\n"
            "vexal: loading fw.s28: 100% (1000 of 1000 bytes, 500 B/s, 0 s left)\n"
            "vexal: loading fw.s28: 60% (600 of 1000 bytes, 600 B/s, 1 s left)\n");
  cap.close();
}

}  // namespace
}  // namespace vx
