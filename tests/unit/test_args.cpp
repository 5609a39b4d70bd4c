// The argument vector: the window's single-space split, the limits, the program name, a refused run.
#include <gtest/gtest.h>

#include "console/console.h"
#include "loader/args.h"
#include "loader/run.h"

namespace vx {
namespace {

std::vector<std::string> split(const std::string& line) {
  ArgVector av;
  std::string error;
  EXPECT_TRUE(args_from_command_line(line, av, error)) << error;
  std::vector<std::string> out;
  for (int k = 1; k <= av.cmdno; ++k) out.emplace_back(av.cmdpar2[k]);
  EXPECT_STREQ(av.cmdpar2[0], "");
  return out;
}

TEST(Args, SingleSpaceSplit) {
  const struct {
    const char* line;
    std::vector<std::string> args;
  } cases[] = {
      {"", {}},
      {"b19200 boot.s28 X1", {"b19200", "boot.s28", "X1"}},
      {"a  b", {"a", " b"}},
      {"a   b", {"a", " ", "b"}},
      {"a ", {"a", ""}},
      {" a", {"", "a"}},
  };
  for (const auto& c : cases) EXPECT_EQ(split(c.line), c.args) << "[" << c.line << "]";
}

TEST(Args, EmptyCommandLineGivesArgcOne) {
  ArgVector av;
  std::string error;
  ASSERT_TRUE(args_from_command_line("", av, error));
  EXPECT_EQ(av.argc(), 1u);
}

TEST(Args, LimitsAreRefusedNotCut) {
  const struct {
    const char* name;
    std::string line;
  } cases[] = {
      {"256 characters", std::string(256, 'a')},
      {"argument of 128 characters", std::string(128, 'a')},
      {"128 arguments",
       [] {
         std::string s = "a";
         for (int i = 1; i < 128; ++i) s += " a";
         return s;
       }()},
  };
  for (const auto& c : cases) {
    ArgVector av;
    std::string error;
    EXPECT_FALSE(args_from_command_line(c.line, av, error)) << c.name;
    EXPECT_EQ(error.rfind("Error", 0), 0u) << c.name;
  }
  ArgVector av;
  std::string error;
  EXPECT_TRUE(args_from_command_line(std::string(127, 'a'), av, error));
  EXPECT_FALSE(args_from_list(std::vector<std::string>(128, "x"), av, error));
  EXPECT_TRUE(args_from_list(std::vector<std::string>(127, "x"), av, error));
  EXPECT_FALSE(args_from_list({std::string(128, 'a')}, av, error));
}

TEST(Args, ProgramNameIsSkipped) {
  EXPECT_EQ(skip_program_name("vexal.exe  b9600 X"), "b9600 X");
  EXPECT_EQ(skip_program_name("vexal.exe"), "");
  EXPECT_EQ(skip_program_name("\"C:\\Program Files\\vexal.exe\" b9600"), "b9600");
}

// What every front-end shows of a refused run: the error line as it is (never read as a format), then
// the exit code as the loader's own end prints it.
TEST(Args, RefusedRunReadsLikeARunThatEnded) {
  const struct {
    const char* error;
    const char* console;
  } cases[] = {
      {"Error: Too many arguments (at most 127).", "Error: Too many arguments (at most 127).\nExit code     1"},
      {"Error: 100%d %s", "Error: 100%d %s\nExit code     1"},
  };
  for (const auto& c : cases) {
    fresh_run();
    EXPECT_EQ(refuse_run(c.error), 1) << c.error;
    EXPECT_EQ(console_snapshot().text, c.console) << c.error;
  }
  fresh_run();
}

}  // namespace
}  // namespace vx
