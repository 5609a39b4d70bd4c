// The text helpers the station's parsers and screens share.
#include <gtest/gtest.h>

#include "frontends/station/views/text.h"

namespace vx::station {
namespace {

TEST(StationText, Split) {
  EXPECT_EQ(split("", ','), std::vector<std::string>{""});
  EXPECT_EQ(split("a", ','), std::vector<std::string>{"a"});
  EXPECT_EQ(split("a,,b,", ','), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(split("/dev/x\t-\t\t", '\t'), (std::vector<std::string>{"/dev/x", "-", "", ""}));
}

TEST(StationText, LastComponent) {
  const struct {
    const char* path;
    const char* last;
  } cases[] = {{"/dev/ttyUSB0", "ttyUSB0"}, {"ttyUSB0", "ttyUSB0"}, {"a/b/", "b"}, {"/", ""}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(last_component(c.path), c.last) << c.path;
}

TEST(StationText, PrintableIsOneTidyLine) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"VQ-3140 ZARVEN v1.28", "VQ-3140 ZARVEN v1.28"},
      {"Error:s|!refused                                   |", "Error:s|!refused |"},
      {"  padded  ", "padded"},
      {"a\x1b[2Jb\r\n\x7f", "a?[2Jb???"},
      {"\t", "?"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(printable(c.text), c.shown) << c.text;
}

TEST(StationText, TidiedKeepsAllButPaddingBlanks) {
  EXPECT_EQ(tidied("Syntax error" + std::string(240, ' ') + ":@binget"), "Syntax error :@binget");
  EXPECT_EQ(tidied("  a\tb  "), "a\tb");
  EXPECT_EQ(tidied("   "), "");
}

TEST(StationText, MiddleShortenedKeepsTheEnd) {
  const struct {
    const char* text;
    std::size_t width;
    const char* shown;
  } cases[] = {
      {"usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0", 20, "usb-~C3D4-if00-port0"},
      {"usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0", 32, "usb-~SB_UART_A1B2C3D4-if00-port0"},
      {"ttyUSB0", 20, "ttyUSB0"},
      {"abcdef", 2, "ef"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(middle_shortened(c.text, c.width), c.shown) << c.text;
    EXPECT_LE(middle_shortened(c.text, c.width).size(), c.width);
  }
}

TEST(StationText, Fitted) {
  EXPECT_EQ(fitted("abc", 5), "abc  ");
  EXPECT_EQ(fitted("abcdef", 3), "abc");
  EXPECT_EQ(fitted("", 0), "");
}

TEST(StationText, FileNameSafe) {
  const struct {
    const char* name;
    const char* safe;
  } cases[] = {{"usb-FTDI_A1-if00-port0", "usb-FTDI_A1-if00-port0"},
               {"a/b", "a_b"},
               {"..", "_."},
               {".hidden", "_hidden"},
               {"x\ny", "x_y"}};
  for (const auto& c : cases) EXPECT_EQ(file_name_safe(c.name), c.safe) << c.name;
}

TEST(StationText, Formatted) {
  EXPECT_EQ(formatted("%s=%03d", "x", 7), "x=007");
  EXPECT_EQ(formatted("%s", std::string(1000, 'y').c_str()).size(), 1000u);
  EXPECT_EQ(formatted("%s", ""), "");
}

}  // namespace
}  // namespace vx::station
