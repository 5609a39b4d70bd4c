// The option walker the simulator and the station share: names, values after '=' or as the next
// argument, flags, and the refusals' texts; and the number reader beside it.
#include <gtest/gtest.h>

#include <cstdint>

#include "cli/option_table.h"

namespace vx::cli {
namespace {

struct Target {
  std::string name;
  bool quiet = false;
  unsigned count = 0;
};

const OptionTable<Target>& table() {
  static const OptionTable<Target> kTable{
      {"--name",
       {true,
        [](Target& t, const std::string& v) {
          t.name = v;
          return std::string();
        }}},
      {"--count",
       {true,
        [](Target& t, const std::string& v) {
          return parse_number(v, t.count) ? std::string() : std::string("--count needs a number");
        }}},
      {"--quiet", {false, flag(&Target::quiet)}},
  };
  return kTable;
}

struct WalkCase {
  std::vector<std::string> args;
  std::string refusal;  // "" when every argument applies
  std::string name;     // then the fields
  bool quiet;
  unsigned count;
  std::size_t last_used;  // the index the walk leaves on the last argument's
};

const WalkCase kWalkCases[] = {
    {{"--name", "x"}, "", "x", false, 0, 1},
    {{"--name=x"}, "", "x", false, 0, 0},
    {{"--name="}, "", "", false, 0, 0},
    {{"--name=a=b"}, "", "a=b", false, 0, 0},
    {{"--name", "--quiet"}, "", "--quiet", false, 0, 1},  // a value may look like an option
    {{"--quiet", "--count", "7"}, "", "", true, 7, 2},
    {{"--count=7x"}, "--count needs a number", "", false, 0, 0},
    {{"--name"}, "--name needs a value", "", false, 0, 0},
    {{"--quiet=yes"}, "--quiet takes no value", "", false, 0, 0},
    {{"--nmae", "x"}, "unknown option --nmae (HINT)", "", false, 0, 0},
    {{"--nmae=x"}, "unknown option --nmae=x (HINT)", "", false, 0, 0},
    {{"-q=x"}, "unknown option -q=x (HINT)", "", false, 0, 0},
    {{"name"}, "unknown option name (HINT)", "", false, 0, 0},
};

TEST(CliOptions, Walk) {
  for (const WalkCase& c : kWalkCases) {
    Target target;
    std::string refusal;
    std::size_t i = 0;
    for (; i < c.args.size(); ++i) {
      refusal = apply_option(table(), c.args, i, target, "HINT");
      if (!refusal.empty()) break;
    }
    const std::string shown = c.args.front();
    EXPECT_EQ(refusal, c.refusal) << shown;
    if (!c.refusal.empty()) continue;
    EXPECT_EQ(target.name, c.name) << shown;
    EXPECT_EQ(target.quiet, c.quiet) << shown;
    EXPECT_EQ(target.count, c.count) << shown;
    EXPECT_EQ(i, c.last_used + 1) << shown;
  }
}

struct NumberCase {
  const char* text;
  int base;
  bool ok;
  std::uint32_t value;
};

const NumberCase kNumberCases[] = {
    {"0", 10, true, 0},           {"38400", 10, true, 38400}, {"4294967295", 10, true, 4294967295u},
    {"4294967296", 10, false, 0}, {"", 10, false, 0},         {"12x", 10, false, 0},
    {"+1", 10, false, 0},         {" 1", 10, false, 0},       {"0x10", 10, false, 0},
    {"ff", 16, true, 255},        {"0xFF", 16, true, 255},    {"0XfF", 16, true, 255},
    {"0x", 16, false, 0},         {"0x0x1", 16, false, 0},    {"g", 16, false, 0},
};

TEST(CliOptions, Numbers) {
  for (const NumberCase& c : kNumberCases) {
    std::uint32_t value = 0;
    EXPECT_EQ(parse_number(c.text, value, c.base), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace vx::cli
