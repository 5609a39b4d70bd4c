// What the terminal front-end prints as a log when standard output is not a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "frontends/terminal/terminal_view.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

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
      {"settings line overwritten", "\n banner \nSerial A\rSerial B \nExit code     0", "\n banner\nSerial B\nExit code     0\n"},
      {"carriage return discards the line", "\nSend: X" + std::string(10, ' ') + "\rAnswer: OK  \n", "\nAnswer: OK\n\n"},
      {"break-completed blank lines left out", "\n\rAnswer: OK" + std::string(243, ' ') + "\rNext\n",
       "\nAnswer: OK\nNext\n\n"},
      {"80-column break writes the line", "\n" + std::string(85, 'x'), "\n" + std::string(80, 'x') + "\n" + std::string(5, 'x') + "\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(log_of(c.stream), c.log) << c.name;
}

}  // namespace
}  // namespace vx
