// The front-ends' own options, taken before the loader sees its arguments.
#include <algorithm>
#include <gtest/gtest.h>

#include <fstream>

#include "loader/cli.h"
#include "loader/session.h"

namespace vx {
namespace {

using Args = std::vector<std::string>;
using A = CommandLine::Action;

struct ParseCase {
  const char* name;
  Args args;
  A action;
  Args loader_args;
  std::string port;
  bool quiet;
};

TEST(CommandLine, OptionsAreTakenAndTheRestKeepsItsOrder) {
  const ParseCase cases[] = {
      {"no arguments", {}, A::Run, {}, "", false},
      {"loader arguments untouched",
       {"b115200", "old", "fw.s28", "@verify<fw.s28"},
       A::Run,
       {"b115200", "old", "fw.s28", "@verify<fw.s28"},
       "",
       false},
      {"port, separate", {"-P", "/dev/ttyUSB0", "b9600"}, A::Run, {"b9600"}, "/dev/ttyUSB0", false},
      {"port, long separate", {"b9600", "--port", "COM7"}, A::Run, {"b9600"}, "COM7", false},
      {"port, long with =", {"--port=\\\\.\\COM12", "x.txt"}, A::Run, {"x.txt"}, "\\\\.\\COM12", false},
      {"last port wins", {"-P", "a", "--port=b"}, A::Run, {}, "b", false},
      {"port value may begin with a dash", {"-P", "-odd"}, A::Run, {}, "-odd", false},
      {"quiet", {"-q", "fw.s28", "--quiet"}, A::Run, {"fw.s28"}, "", true},
      {"after -- everything is the loader's",
       {"--", "-reset", "--help", "-P"},
       A::Run,
       {"-reset", "--help", "-P"},
       "",
       false},
      {"-- only once taken", {"--", "--"}, A::Run, {"--"}, "", false},
      {"-? is the loader's usage request", {"b9600", "-?"}, A::Run, {"b9600", "-?"}, "", false},
      {"help", {"b9600", "--help", "fw.s28"}, A::Help, {"b9600"}, "", false},
      {"short help", {"-h"}, A::Help, {}, "", false},
      {"version", {"-V"}, A::Version, {}, "", false},
      {"long version", {"--version"}, A::Version, {}, "", false},
      {"list ports", {"--list-ports"}, A::ListPorts, {}, "", false},
      {"help after -- is a raw command", {"--", "-h"}, A::Run, {"-h"}, "", false},
  };
  for (const ParseCase& c : cases) {
    const CommandLine cl = parse_command_line(c.args);
    EXPECT_EQ(cl.action, c.action) << c.name;
    EXPECT_EQ(cl.loader_args, c.loader_args) << c.name;
    EXPECT_EQ(cl.port, c.port) << c.name;
    EXPECT_EQ(cl.quiet, c.quiet) << c.name;
  }
}

TEST(CommandLine, AnyOtherDashIsRefusedNamingIt) {
  const struct {
    Args args;
    const char* refusal;
  } cases[] = {
      {{"--helo"}, "unknown option '--helo'"},
      {{"b9600", "-x", "--help"}, "unknown option '-x'"},  // refused before a later --help is seen
      {{"-"}, "unknown option '-'"},
      {{"-Pdev"}, "unknown option '-Pdev'"},
      {{"-P"}, "option '-P' needs a device"},
      {{"--port"}, "option '--port' needs a device"},
      {{"--port="}, "option '--port' needs a device"},
      {{"-vexal"}, "unknown option '-vexal'"},
  };
  for (const auto& c : cases) {
    const CommandLine cl = parse_command_line(c.args);
    EXPECT_EQ(cl.action, A::Refused) << c.refusal;
    EXPECT_EQ(cl.refusal, c.refusal);
  }
}

TEST(CommandLine, UsageNamesTheProgramTheOptionsTheCommandsAndTheExitCodes) {
  std::string usage = usage_text("vexalw");
  EXPECT_EQ(usage.rfind("Usage: vexalw [OPTION]...", 0), 0u);
  std::replace(usage.begin(), usage.end(), '\n', ' ');  // a phrase may wrap
  for (const char* part : {"--port DEV",
                           "--ignore-checksums",
                           "--list-ports",
                           "--quiet",
                           "--version",
                           "@binget012300,000100>dump.bin",
                           "@hexget",
                           "@binput012300<image.bin",
                           "@verify<firmware.s28",
                           "@load<firmware.elf",
                           "@load012300<image.bin",
                           "Intel HEX",
                           "#nested file",
                           "VEXAL_COM1",
                           "VEXAL_EVENTS",
                           "VEXAL_TRACE",
                           "VEXAL_WINDOW",
                           "Exit codes: 0 done;",
                           "9 a memory command failed",
                           "bBAUD               2400, 4800, 9600, 19200, 38400 (default), 57600, 115200"})
    EXPECT_NE(usage.find(part), std::string::npos) << part;
  EXPECT_EQ(version_text("vexal"), std::string("vexal ") + kVexalVersion + " (VQ-3140 loader, ZARVEN v1.28)\n");
}

// A front-end's own options (vexalw's --choose) come first among the options; without them the list
// begins with --port.
TEST(CommandLine, UsageTakesTheFrontEndsOwnOptionsFirst) {
  constexpr const char* kOptionsHead = "as it is):\n  -P, --port DEV";
  const struct {
    const char* own;
    std::string expected;
  } cases[] = {
      {"", kOptionsHead},
      {"      --choose        a dialog first\n", "as it is):\n      --choose        a dialog first\n  -P, --port DEV"},
  };
  for (const auto& c : cases) {
    const std::string usage = usage_text("vexalw", c.own);
    EXPECT_NE(usage.find(c.expected), std::string::npos) << c.own << usage;
    EXPECT_EQ(usage.find('%'), std::string::npos) << c.own;
  }
  const ProgramStart start = start_program({"--help"}, "vexalw", RunSettings{}, "      --choose        x\n");
  EXPECT_NE(start.answer.value_or("").find("      --choose        x\n"), std::string::npos);
}

// Every front-end starts through start_program: what it shows instead of a run, what it refuses (and
// the hint it adds on the console), and the run with COM1's device from --port ahead of the settings'.
TEST(StartProgram, AnswersRefusalsAndRunsForEveryFrontEnd) {
  RunSettings settings;
  settings.link.environment_devices["COM1"] = "/dev/from-environment";
  const struct {
    Args args;
    std::string answer_starts;  // "" when there is no answer
    std::string refusal, hint;
    Args loader_args;
    std::string named_com1;
    bool quiet;
  } cases[] = {
      {{"--help"}, "Usage: prog [OPTION]...", "", "", {}, "", false},
      {{"-V"}, "prog ", "", "", {}, "", false},
      {{"--prot"}, "", "Error: unknown option '--prot'", " (see 'prog --help')", {}, "", false},
      {{"-P", "/dev/ttyUSB3", "--bogus"},
       "",
       "Error: unknown option '--bogus'",
       " (see 'prog --help')",
       {},
       "/dev/ttyUSB3",
       false},
      {{"-q", "--port=/dev/ttyUSB1", "b9600", "fw.s28"}, "", "", "", {"b9600", "fw.s28"}, "/dev/ttyUSB1", true},
      {{"X1"}, "", "", "", {"X1"}, "", false},
  };
  for (const auto& c : cases) {
    const ProgramStart start = start_program(c.args, "prog", settings);
    const std::string name = c.args.front();
    EXPECT_EQ(start.answer.has_value(), !c.answer_starts.empty()) << name;
    EXPECT_EQ(start.answer.value_or("").rfind(c.answer_starts, 0), 0u) << name;
    EXPECT_EQ(start.run.refusal, c.refusal) << name;
    EXPECT_EQ(start.run.hint, c.hint) << name;
    EXPECT_EQ(start.run.loader_args, c.loader_args) << name;
    const auto& named = start.run.settings.link.named_devices;
    EXPECT_EQ(named.count("COM1") ? named.at("COM1") : "", c.named_com1) << name;
    EXPECT_EQ(start.run.settings.link.environment_devices.at("COM1"), "/dev/from-environment") << name;
    EXPECT_EQ(start.quiet, c.quiet) << name;
  }
}

// The texts that can't take the version from the build (the manual pages' headers, the package's
// changelog) state the project's version all the same.
TEST(CommandLine, TheDocumentsStateTheProjectVersion) {
  const std::string source = VEXAL_SOURCE_DIR;
  const auto first_line = [](const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
  };
  const std::string in_manual = std::string("\"vexal ") + kVexalVersion + "\"";
  for (const char* page : {"vexal", "vexalw", "vexal-station", "vq3140-sim"}) {
    const std::string path = source + "/docs/man/" + page + ".1";
    EXPECT_NE(first_line(path).find(in_manual), std::string::npos) << path;
  }
  EXPECT_EQ(first_line(source + "/packaging/changelog").rfind(std::string("vexal (") + kVexalVersion + ")", 0), 0u);
}

TEST(CommandLine, ProgramNameWithoutFolderOrSuffix) {
  EXPECT_EQ(program_name("/usr/bin/vexal", "x"), "vexal");
  EXPECT_EQ(program_name("build\\bin\\vexalc.exe", "x"), "vexalc");
  EXPECT_EQ(program_name("vexalw", "x"), "vexalw");
  EXPECT_EQ(program_name("", "vexal"), "vexal");
  EXPECT_EQ(program_name(nullptr, "vexal"), "vexal");
}

}  // namespace
}  // namespace vx
