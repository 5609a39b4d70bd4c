// A run's error line as the console shows it, and the words for its exit code.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
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
      {"verify difference",
       "Executing:@verify<f.s28\nError: Verify failed at 010005: expected 78, found 00.\nExit code     9",
       "Error: Verify failed at 010005: expected 78, found 00."},
      {"wrong settings continue the settings line",
       "\n banner \nSerial UART port:3F8 irq:0004 baud:38400 mode:0000Wrong settings, can't initialize UART\nExit code "
       "    2",
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
      {"a blank at the break separates words", std::string(71, ' ') + "Error: a" + " b\nExit code     7", "Error: a b"},
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
  for (const ExitCodeMeaning& known : kExitCodes)
    EXPECT_TRUE(seen.insert(exit_code_meaning(exit_status(known.code))).second) << exit_status(known.code);
  EXPECT_STREQ(exit_code_meaning(2), "the port could not be opened or set up");
  EXPECT_STREQ(exit_code_meaning(130), "the run was ended");
}

// The codes a document's rows begin with: "| 3 |" or "| 130, 143 |" in the README's exit-code table,
// ".B 3" or ".BR 130 ", " 143" in the manual's EXIT STATUS section.
std::set<int> codes_in(const std::string& path, const std::string& section_start, const std::regex& row) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::set<int> codes;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(section_start, 0) == 0)
      inside = true;
    else if (inside && (line.empty() || line.rfind(".SH", 0) == 0))
      break;
    std::smatch m;
    if (!inside || !std::regex_match(line, m, row)) continue;
    for (std::size_t k = 1; k < m.size(); ++k)
      if (m[k].matched) codes.insert(std::stoi(m[k].str()));
  }
  return codes;
}

// The documents name every code a run can end with, and no other: the loader's codes, and the two
// signals an interrupted run ends by (a dropped session, Ctrl-C, SIGTERM).
TEST(ExitCodeMeaning, TheDocumentsNameExactlyTheseCodes) {
  std::set<int> expected = {129, 130, 143};
  for (const ExitCodeMeaning& known : kExitCodes) expected.insert(exit_status(known.code));
  const std::string source = VEXAL_SOURCE_DIR;
  const std::regex readme_row(R"(\| ([0-9]+)(?:, ([0-9]+))?(?:, ([0-9]+))? \|.*)");
  const std::regex manual_row(R"(\.BR? ([0-9]+)(?: ", " ([0-9]+))?(?: ", " ([0-9]+))?)");
  EXPECT_EQ(codes_in(source + "/README.md", "| exit code | meaning |", readme_row), expected);
  EXPECT_EQ(codes_in(source + "/docs/man/vexal.1", ".SH \"EXIT STATUS\"", manual_row), expected);
}

TEST(ErrorDetail, KeptUntilCleared) {
  set_error_detail("block 012300 was not accepted in 8 attempts");
  EXPECT_EQ(error_detail(), "block 012300 was not accepted in 8 attempts");
  clear_error_detail();
  EXPECT_EQ(error_detail(), "");
}

}  // namespace
}  // namespace vx
