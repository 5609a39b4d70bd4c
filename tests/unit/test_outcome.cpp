// A run's error line as the console shows it, and the words for its exit code.
#include <gtest/gtest.h>

#include <set>

#include "console/outcome.h"

namespace vx {
namespace {

std::string error_of(const std::string& console) {
  ErrorLineWatch watch;
  for (char c : console) watch.putc(c);
  return watch.error_text();
}

TEST(ErrorLineWatch, TheLastCompletedLineFromItsMessage) {
  const struct {
    const char* name;
    std::string console;
    std::string error;
  } cases[] = {
      {"verify difference", "Executing:@verify<f.s28\nError: Verify failed at 010005: expected 78, found 00.\nExit code     9",
       "Error: Verify failed at 010005: expected 78, found 00."},
      {"wrong settings continue the settings line",
       "\n banner \nSerial UART port:3F8 irq:0004 baud:38400 mode:0000Wrong settings, can't initialize UART\nExit code     2",
       "Wrong settings, can't initialize UART"},
      {"trailing blank dropped", "Error: Can't open file x.txt \nExit code     3", "Error: Can't open file x.txt"},
      {"block refused", "\rPacking...   Sending block 012300   \nError:s|!|\nExit code     4", "Error:s|!|"},
      {"carriage return erases", "\rSend: X\rAnswer: !\rError: Negative response.\nExit code     7",
       "Error: Negative response."},
      {"80-column break keeps the line whole", "Error: " + std::string(90, 'x') + "\nExit code     7",
       "Error: " + std::string(90, 'x')},
      {"blanks filling rows to the break are padding",
       "Executing:@binget0123,45\n" + std::string(12, ' ') + "Error: Syntax error" + std::string(229, ' ') +
           ":@binget0123,45 \nExit code     9",
       "Error: Syntax error:@binget0123,45"},
      {"a blank at the break separates words", std::string(71, ' ') + "Error: a" + " b\nExit code     7",
       "Error: a b"},
      {"blanks inside a row stay", "Error: Verify failed   here\nExit code     9", "Error: Verify failed   here"},
      {"no answer", "Target ID:\nTarget didn't respond.\nExit code     4", "Target didn't respond."},
      {"bad format", "\rPacking...Bad format:ZZ\nExit code     3", "Bad format:ZZ"},
      {"no marker: the whole line", "something else\nExit code     1", "something else"},
      {"nothing completed", "Exit code     0", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(c.console), c.error) << c.name;
}

TEST(ExitCodeMeaning, EveryCodeHasItsOwnWords) {
  std::set<std::string> seen;
  for (int code = 0; code <= 9; ++code) EXPECT_TRUE(seen.insert(exit_code_meaning(code)).second) << code;
  EXPECT_STREQ(exit_code_meaning(2), "the port could not be opened or set up");
}

TEST(ErrorDetail, KeptUntilCleared) {
  set_error_detail("block 012300 was not accepted in 8 attempts");
  EXPECT_EQ(error_detail(), "block 012300 was not accepted in 8 attempts");
  clear_error_detail();
  EXPECT_EQ(error_detail(), "");
}

}  // namespace
}  // namespace vx
