// The station's command line: the ways to name ports, the checks that keep a bench safe, the job.
#include <gtest/gtest.h>

#include "frontends/station/options.h"

namespace vx::station {
namespace {

Options parsed(const std::vector<std::string>& args) {
  Options options;
  std::string why;
  EXPECT_TRUE(parse_options(args, options, why)) << why;
  return options;
}

TEST(StationOptions, PortsFromRepeatedListsInOrder) {
  Options o = parsed({"--ports", "/dev/ttyUSB0,/dev/ttyUSB1", "--ports=/dev/ttyACM0", "--", "fw.s28"});
  EXPECT_EQ(o.ports, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0"}));
  EXPECT_EQ(o.job, std::vector<std::string>{"fw.s28"});
}

TEST(StationOptions, ValuesAfterEqualsOrAsTheNextArgument) {
  Options o = parsed({"--all", "--jobs=4", "--logs", "out", "--report=r.json", "--junit", "r.xml", "--vexal=/opt/vexal",
                      "--match", "usb-FTDI_*", "--match=0403:6001,067B:2303"});
  EXPECT_TRUE(o.all);
  EXPECT_EQ(o.jobs, 4u);
  EXPECT_EQ(o.logs_dir, "out");
  EXPECT_EQ(o.report_file, "r.json");
  EXPECT_EQ(o.junit_file, "r.xml");
  EXPECT_EQ(o.vexal, "/opt/vexal");
  EXPECT_EQ(o.match, (std::vector<std::string>{"usb-FTDI_*", "0403:6001,067B:2303"}));
  EXPECT_TRUE(o.job.empty());
}

TEST(StationOptions, TheJobIsEverythingAfterTheFirstDoubleDash) {
  Options o =
      parsed({"--watch", "--match", "usb-*", "--", "--ports", "--", "b115200", "@binget000000,000010>{name}.bin"});
  EXPECT_EQ(o.job, (std::vector<std::string>{"--ports", "--", "b115200", "@binget000000,000010>{name}.bin"}));
}

TEST(StationOptions, HelpAndVersionNeedNoPorts) {
  EXPECT_TRUE(parsed({"--help"}).help);
  EXPECT_TRUE(parsed({"--version"}).version);
}

TEST(StationOptions, RefusedCommandLines) {
  const struct {
    std::vector<std::string> args;
    const char* reason_holds;
  } cases[] = {
      {{}, "name the ports"},
      {{"--", "fw.s28"}, "name the ports"},
      {{"--all", "--ports", "/dev/ttyUSB0"}, "exclude each other"},
      {{"--all", "--watch", "--match", "x"}, "exclude each other"},
      {{"--watch"}, "--watch needs --match"},
      {{"--ports", "/dev/ttyUSB0", "--match", "usb-*"}, "--match goes with --all or --watch"},
      {{"--ports", "a,,b"}, "--ports needs device paths"},
      {{"--ports", ""}, "--ports needs device paths"},
      {{"--all", "--jobs", "0"}, "--jobs needs"},
      {{"--all", "--jobs", "3x"}, "--jobs needs"},
      {{"--all", "--jobs", "-1"}, "--jobs needs"},
      {{"--all", "--jobs"}, "--jobs needs a value"},
      {{"--all", "--logs="}, "--logs needs a value"},
      {{"--all=yes"}, "--all takes no value"},
      {{"--al"}, "unknown option --al"},
      {{"--all", "fw.s28"}, "unknown option fw.s28"},
      {{"--all", "--match", "0403:600"}, "is not VID:PID"},
      {{"--all", "--match", "0403:6001,usb-*"}, "is not VID:PID"},
      {{"--all", "--match", ""}, "--match needs"},
      {{"--all", "--", "@binget000000,000010>{nmae}.bin"}, "unknown placeholder {nmae}"},
      // jobs that can't mean what they say
      {{"--all", "--", "b115200"}, "only settings"},
      {{"--all", "--", "b115200", "p3f8", "i4", "m2", "old", "ram"}, "add --identify or the command I000000"},
      {{"--all", "--", "-q", "b115200", "--", "old"}, "only settings"},
      {{"--all", "--", ""}, "only settings"},
      {{"--all", "--", "--port", "/dev/ttyUSB0", "fw.s28"}, "holds --port: the station gives each board its own"},
      {{"--all", "--", "--port=/dev/ttyUSB0", "fw.s28"}, "holds --port=/dev/ttyUSB0"},
      {{"--all", "--", "-P", "/dev/ttyUSB0", "fw.s28"}, "holds -P"},
      {{"--all", "--", "--list-ports"}, "holds --list-ports"},
      {{"--all", "--", "fw.s28", "--help"}, "holds --help"},
      {{"--all", "--", "-V"}, "holds -V"},
      {{"--all", "--", "b115200", "?"}, "asks vexal for its usage"},
      {{"--all", "--", "R?", "fw.s28"}, "'R?', which asks vexal for its usage"},
      {{"--all", "--identify", "--", "--port", "x"}, "holds --port"},
  };
  for (const auto& c : cases) {
    Options o;
    std::string why;
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_FALSE(parse_options(c.args, o, why)) << shown;
    EXPECT_NE(why.find(c.reason_holds), std::string::npos) << shown << "-> " << why;
  }
}

// Jobs that send the board something, however they look.
TEST(StationOptions, JobsThatSendSomething) {
  const std::vector<std::vector<std::string>> jobs{
      {},                       // vexal asks for the identity
      {"b115200", "fw.s28"},    // a command file
      {"b115200", "I000000"},   // a command
      {"b9600", "b115200"},     // the earlier baud goes to the board as a command
      {"m7"},                   // no parity digit: a command
      {"b115200", "--", "-P"},  // after "--": a command
      {"b115200", "@binget000000,000010>{index}.bin"},
      {"bx.s28"},  // with a '.': a command file
  };
  for (const auto& job : jobs) {
    std::vector<std::string> args{"--all", "--"};
    args.insert(args.end(), job.begin(), job.end());
    parsed(args);
  }
  Options o = parsed({"--all", "--identify", "--station", "line 3", "--operator=kim", "--", "b115200"});
  EXPECT_TRUE(o.identify);
  EXPECT_EQ(o.station, "line 3");
  EXPECT_EQ(o.operator_name, "kim");
}

TEST(StationOptions, UsageNamesEveryOption) {
  const std::string usage = usage_text();
  for (const char* option : {"--ports", "--all", "--watch", "--match", "--jobs", "--logs", "--report", "--junit",
                             "--vexal", "--identify", "--station", "--operator", "{port}", "{name}", "{index}"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace vx::station
