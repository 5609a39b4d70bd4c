// The formatter, grouped by feature: tables of format, argument, output.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "console/console.h"
#include "console/mprintf.h"
#include "loader/run.h"

namespace vx {
namespace {

// What mprintf hands to the console for one call.
template <typename... A>
std::string fmt(const char* f, A... args) {
  std::string out;
  fresh_run();
  console_set_tap([&](char c) { out.push_back(c); });
  mprintf_unchecked(f, args...);
  console_set_tap(nullptr);
  return out;
}

std::string sp(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

struct IntCase {
  const char* format;
  int value;
  std::string out;
};

TEST(Mprintf, Integers) {
  const IntCase cases[] = {
      {"%5d", -42, sp(2) + "-42"},
      {"%2d", -42, "42"},
      {"%05d", -42, "00-42"},
      {"%d", 0, sp(4) + "0"},
      {"%d", 115200, "15200"},
      {"%u", -1, sp(3) + "-1"},
      {"%-5d", 42, "42" + sp(3)},
      {"%d", INT_MIN, "83648"},
      {"%11d", INT_MIN, "-2147483648"},
      {"%x", 4, "0004"},
      {"%x", 0xAB, "00AB"},
      {"%3x", 0x3F8, "3F8"},
      {"%X", 0x12345, "2345"},
      {"%06X", 0x80, "000080"},
      {"%06X", 0x12345, "012345"},
      {"%6X", 0x80, sp(2) + "0080"},
      {"%8X", 0x12345678, sp(2) + "345678"},
      {"%ld", 7, sp(4) + "7"},
      {"%-3x", 0xFFFFFF, "FFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(fmt(c.format, c.value), c.out) << c.format << " " << c.value;
}

struct StrCase {
  const char* format;
  const char* value;
  std::string out;
};

TEST(Mprintf, Strings) {
  const StrCase cases[] = {
      {"%s", "OK", "OK" + sp(243)},
      {"%5s", "ab", "ab" + sp(3)},
      {"%05s", "ab", "ab000"},
      {"%3s", "abcdef", "abc"},
      {"%s", "ab\nmore", "ab" + sp(243)},
      {"%s", "ab\x80more", "ab" + sp(243)},
      {"%-6s", "  ab", "ab" + sp(4)},
      {"%4s", "", sp(4)},
  };
  for (const auto& c : cases) EXPECT_EQ(fmt(c.format, c.value), c.out) << c.format << " " << c.value;
}

TEST(Mprintf, CharactersAndPlainText) {
  EXPECT_EQ(fmt("%c", 'A'), "A");
  EXPECT_EQ(fmt("%5c", 'A'), "A");
  EXPECT_EQ(fmt("%%"), "%");
  EXPECT_EQ(fmt("100%% sure"), "100% sure");
  EXPECT_EQ(fmt("\nError:%c|%3s|\n", 's', "x"), "\nError:s|x  |\n");
}

TEST(Mprintf, UnknownConversionsSwallowNoArgument) {
  EXPECT_EQ(fmt("%q"), "");
  EXPECT_EQ(fmt("%5q"), sp(5));
  EXPECT_EQ(fmt("%05q"), "00000");
  EXPECT_EQ(fmt("%q%d", 3), sp(4) + "3");
  // Only '-' then '0' are flags: in %0-5d the '-' is the conversion and "5d" plain text.
  EXPECT_EQ(fmt("%0-5d"), "5d");
  // A third width digit is the conversion character.
  EXPECT_EQ(fmt("%123"), std::string(12, ' '));
}

struct FloatCase {
  const char* format;
  double value;
  std::string out;
};

TEST(Mprintf, FixedPoint) {
  const FloatCase cases[] = {
      {"%f", 1.5, ""},
      {"%6.2f", 3.14159, sp(2) + "3.14"},
      {"%4.1f", -0.5, "-0.5"},
      {"%3f", 7.0, " 07"},
      {"%4.1f", 0.5, " 0.5"},
      {"%5.1f", 12.34, " 12.3"},
      {"%4f", 123.9, " 123"},
      {"%5.2f", 0.05, " 0.05"},
      {"%7.9f", 1.0, "1.00000"},
      {"%5.9f", 1.0, "00000"},
      {"%9.0f", 1e30, "147483647"},
  };
  for (const auto& c : cases) EXPECT_EQ(fmt(c.format, c.value), c.out) << c.format << " " << c.value;
}

TEST(Mprintf, FormatsEndingInsideAConversionStop) {
  EXPECT_EQ(fmt("ab%"), "ab");
  EXPECT_EQ(fmt("ab%-0"), "ab");
  EXPECT_EQ(fmt("ab%5."), "ab");
  EXPECT_EQ(fmt("ab%5.2l"), "ab");
}

TEST(Mprintf, LeftJustifiedFieldsStayTheirWidth) {
  EXPECT_EQ(fmt("%-2d", -42), "42");
  EXPECT_EQ(fmt("%-05d", 42), "42" + sp(3));
  EXPECT_EQ(fmt("%-05d", 0), "0" + sp(4));
  EXPECT_EQ(fmt("%-5q"), sp(5));
}

TEST(Mprintf, WeirdChar) {
  const struct {
    char c;
    int weird;
  } cases[] = {{'\x1f', 1}, {' ', 0}, {'~', 0}, {'\x7f', 0}, {'\x80', 1}, {'\xff', 1}, {'\n', 1}};
  for (const auto& c : cases) EXPECT_EQ(weirdchar(c.c), c.weird) << int(c.c);
}

}  // namespace
}  // namespace vx
