// --ports-file: one port a line, a name beside it, comments; and the names network ports get.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontends/station/options.h"
#include "frontends/station/os/port_file.h"
#include "frontends/station/os/ports.h"

namespace vx::station {
namespace {

TEST(StationPortFile, LinesCommentsAndNames) {
  struct Row {
    const char* text;
    bool good;
    std::vector<NamedPort> ports;
  } rows[] = {
      {"", true, {}},
      {"# only a comment\n\n   \n", true, {}},
      {"/dev/ttyUSB0\n", true, {{"/dev/ttyUSB0", ""}}},
      {"rfc2217://rack-a:3001 a01\ntcp://[::1]:3002\ta02  # fixture A\n",
       true,
       {{"rfc2217://rack-a:3001", "a01"}, {"tcp://[::1]:3002", "a02"}}},
      {"/dev/ttyUSB1 b1", true, {{"/dev/ttyUSB1", "b1"}}},  // no final line feed
      {"  /dev/ttyUSB2   b2   \r\n", true, {{"/dev/ttyUSB2", "b2"}}},
      {"/dev/ttyUSB0 a\n/dev/ttyUSB1 b c\n", false, {}},
  };
  for (const Row& r : rows) {
    std::vector<NamedPort> ports;
    std::string why;
    ASSERT_EQ(parse_ports_text(r.text, ports, why), r.good) << r.text;
    if (!r.good) {
      EXPECT_NE(why.find("line 2"), std::string::npos) << why;
      EXPECT_TRUE(ports.empty());
      continue;
    }
    ASSERT_EQ(ports.size(), r.ports.size()) << r.text;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      EXPECT_EQ(ports[i].device, r.ports[i].device) << r.text;
      EXPECT_EQ(ports[i].name, r.ports[i].name) << r.text;
    }
  }
}

TEST(StationPortFile, MissingFileIsRefusedByTheOptions) {
  Options o;
  std::string why;
  EXPECT_FALSE(parse_options({"--ports-file", "/nonexistent/ports.txt"}, o, why));
  EXPECT_NE(why.find("can't read the ports file"), std::string::npos) << why;
}

TEST(StationPortFile, NetworkPortsAreNamedByHostAndPort) {
  PortInfo url{"rfc2217://rack-a:3001", "", "", "", ""};
  EXPECT_EQ(short_name(url), "rack-a:3001");
  url.name = "a01";
  EXPECT_EQ(short_name(url), "a01");
  EXPECT_EQ(short_name(port_from_path("tcp://10.0.0.5:4001", {})), "10.0.0.5:4001");
}

}  // namespace
}  // namespace vx::station
