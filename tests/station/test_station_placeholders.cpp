// {port}, {name} and {index} in a job's arguments.
#include <gtest/gtest.h>

#include "frontends/station/model/placeholders.h"

namespace vx::station {
namespace {

TEST(StationPlaceholders, Replaced) {
  const PlaceholderValues values{"/dev/ttyUSB3", "usb-FTDI_A1B2-if00-port0", 12};
  const struct {
    const char* argument;
    const char* replaced;
  } cases[] = {
      {"fw.s28", "fw.s28"},
      {"{port}", "/dev/ttyUSB3"},
      {"@binget000000,000100>dump-{name}.bin", "@binget000000,000100>dump-usb-FTDI_A1B2-if00-port0.bin"},
      {"@binput010000<key{index}.bin", "@binput010000<key12.bin"},
      {"{index}{index}-{index}", "1212-12"},
      {"{{name}}", "{usb-FTDI_A1B2-if00-port0}"},
      {"{Port} {port {} {1} port}", "{Port} {port {} {1} port}"},
      {"{other}", "{other}"},
      {"}{name}{", "}usb-FTDI_A1B2-if00-port0{"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(replace_placeholders(c.argument, values), c.replaced) << c.argument;
}

TEST(StationPlaceholders, AValueHoldingAPlaceholderIsNotReplacedAgain) {
  const PlaceholderValues values{"/tmp/{index}", "{port}", 7};
  EXPECT_EQ(replace_placeholders("{name}:{port}:{index}", values), "{port}:/tmp/{index}:7");
}

TEST(StationPlaceholders, EveryArgumentOfAJob) {
  const std::vector<std::string> job{"b115200", "{name}.txt", "@verify<fw.s28"};
  EXPECT_EQ(replace_placeholders(job, {"/dev/ttyACM0", "ttyACM0", 1}),
            (std::vector<std::string>{"b115200", "ttyACM0.txt", "@verify<fw.s28"}));
}

TEST(StationPlaceholders, UnknownOnesAreFound) {
  const struct {
    std::vector<std::string> job;
    const char* unknown;
  } cases[] = {
      {{}, ""},
      {{"fw.s28", "{port}{name}{index}"}, ""},
      {{"{Name}", "{1}", "{}", "{ port}", "{port"}, ""},  // not a {word} of lower-case letters: left alone
      {{"ok", "a{nmae}b"}, "{nmae}"},
      {{"{port}{idx}", "{serial}"}, "{idx}"},
  };
  for (const auto& c : cases) EXPECT_EQ(unknown_placeholder(c.job), c.unknown);
}

}  // namespace
}  // namespace vx::station
