// The port listing of vexal --list-ports, short names, ports given by path, and --match.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "frontends/station/os/ports.h"

namespace vx::station {
namespace {

namespace fs = std::filesystem;

TEST(StationPorts, ListingLinesOfFiveFields) {
  const std::string listing =
      "/dev/ttyUSB0\tusb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\t0403:6001\tA1B2C3\tFTDI FT232R USB UART\n"
      "/dev/ttyACM0\t-\t2E8A:000A\t-\t-\n"
      "/dev/ttyS0\t-\t-\t-\t-\n"
      "\n"
      "/dev/ttyUSB9\tonly\tfour\tfields\n"
      "/dev/ttyUSB8\ta\tb\tc\td\tsix\n"
      "-\tno-device\t-\t-\t-\n"
      "/dev/ttyUSB1\tusb-x\t1a86:7523\t-\tQinHeng USB Serial";  // no final line feed
  std::vector<PortInfo> ports = parse_port_listing(listing);
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].device, "/dev/ttyUSB0");
  EXPECT_EQ(ports[0].by_id, "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
  EXPECT_EQ(ports[0].vid_pid, "0403:6001");
  EXPECT_EQ(ports[0].serial, "A1B2C3");
  EXPECT_EQ(ports[0].description, "FTDI FT232R USB UART");
  EXPECT_EQ(ports[1].by_id, "");
  EXPECT_EQ(ports[1].vid_pid, "2e8a:000a");  // compared lower-case with --match
  EXPECT_EQ(ports[1].serial, "");
  EXPECT_EQ(ports[2].device, "/dev/ttyS0");
  EXPECT_EQ(ports[3].description, "QinHeng USB Serial");
}

TEST(StationPorts, EmptyListing) { EXPECT_TRUE(parse_port_listing("").empty()); }

TEST(StationPorts, ShortNameIsTheByIdNameElseTheDevicesName) {
  EXPECT_EQ(short_name({"/dev/ttyUSB0", "usb-FTDI_A1-if00-port0", "", "", ""}), "usb-FTDI_A1-if00-port0");
  EXPECT_EQ(short_name({"/dev/ttyUSB0", "", "", "", ""}), "ttyUSB0");
  EXPECT_EQ(short_name({"/tmp/boards/b7/", "", "", "", ""}), "b7");
  EXPECT_EQ(short_name({"com1", "", "", "", ""}), "com1");
}

struct Folder {
  fs::path root = fs::temp_directory_path() / ("station-ports-" + std::to_string(::getpid()));
  Folder() { fs::create_directories(root / "serial" / "by-id"); }
  ~Folder() { fs::remove_all(root); }
  fs::path file(const std::string& name) {
    std::ofstream(root / name) << "";
    return root / name;
  }
};

TEST(StationPorts, APortGivenByPathIsCompletedFromTheListing) {
  Folder folder;
  fs::path device = folder.file("ttyUSB4");
  fs::path link = folder.root / "serial" / "by-id" / "usb-Maker_Board_77-if00";
  fs::create_symlink(device, link);
  const std::vector<PortInfo> listing{{device.string(), "usb-Maker_Board_77-if00", "1234:abcd", "77", "Maker Board"},
                                      {"/dev/ttyUSB0", "usb-other", "0403:6001", "X", "Other"}};

  PortInfo by_link = port_from_path(link.string(), listing);
  EXPECT_EQ(by_link.device, link.string());  // vexal opens the path as given
  EXPECT_EQ(by_link.by_id, "usb-Maker_Board_77-if00");
  EXPECT_EQ(by_link.serial, "77");
  EXPECT_EQ(by_link.vid_pid, "1234:abcd");

  PortInfo by_device = port_from_path(device.string(), listing);
  EXPECT_EQ(by_device.by_id, "usb-Maker_Board_77-if00");
  EXPECT_EQ(short_name(by_device), "usb-Maker_Board_77-if00");

  PortInfo unknown = port_from_path((folder.root / "missing").string(), listing);
  EXPECT_EQ(unknown.device, (folder.root / "missing").string());
  EXPECT_EQ(unknown.by_id, "");
  EXPECT_EQ(short_name(unknown), "missing");
}

TEST(StationPorts, ThePathOfAByIdLinkNamesThePortWithoutAListing) {
  PortInfo port = port_from_path("/dev/serial/by-id/usb-FTDI_A1-if00-port0", {});
  EXPECT_EQ(port.by_id, "usb-FTDI_A1-if00-port0");
}

TEST(StationPorts, APortGivenTwiceIsFoundThroughLinks) {
  Folder folder;
  fs::path device = folder.file("ttyUSB4");
  fs::path link = folder.root / "serial" / "by-id" / "usb-b";
  fs::create_symlink(device, link);
  EXPECT_EQ(repeated_port({device.string(), (folder.root / "other").string()}), "");
  EXPECT_EQ(repeated_port({device.string(), link.string()}), link.string());
  EXPECT_EQ(repeated_port({"/dev/none-a", "/dev/none-b", "/dev/none-a"}), "/dev/none-a");
}

TEST(StationPorts, Matching) {
  const PortInfo ftdi{"/dev/ttyUSB0", "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "0403:6001", "A1B2C3", ""};
  const PortInfo phone{"/dev/ttyACM0", "usb-Phone_Maker_Phone_123-if01", "18d1:4ee7", "123", ""};
  const PortInfo no_by_id{"/dev/ttyUSB1", "", "0403:6001", "", ""};
  const PortInfo nothing_known{"/dev/ttyS0", "", "", "", ""};
  const struct {
    std::vector<std::string> patterns;
    std::vector<bool> matched;  // ftdi, phone, no_by_id, nothing_known
  } cases[] = {
      {{}, {true, true, true, true}},
      {{"usb-FTDI_*"}, {true, false, false, false}},
      {{"*"}, {true, true, false, false}},
      {{"usb-ftdi_*"}, {false, false, false, false}},  // globs are case-sensitive, as file names are
      {{"*-if0[0-9]"}, {false, true, false, false}},
      {{"0403:6001"}, {true, false, true, false}},
      {{"0403:6001,18D1:4EE7"}, {true, true, true, false}},
      {{"067b:2303"}, {false, false, false, false}},
      {{"usb-Phone*", "0403:6001"}, {true, true, true, false}},
  };
  for (const auto& c : cases) {
    PortMatcher matcher;
    std::string why;
    for (const std::string& p : c.patterns) ASSERT_TRUE(matcher.add(p, why)) << why;
    const std::vector<PortInfo> ports{ftdi, phone, no_by_id, nothing_known};
    for (std::size_t i = 0; i < ports.size(); ++i)
      EXPECT_EQ(matcher.matches(ports[i]), c.matched[i]) << (c.patterns.empty() ? "" : c.patterns[0]) << " port " << i;
  }
}

TEST(StationPorts, MatchingPortsKeepTheListingsOrder) {
  PortMatcher matcher;
  std::string why;
  ASSERT_TRUE(matcher.add("usb-b*", why));
  const std::vector<PortInfo> listing{
      {"/dev/a", "usb-b2", "", "", ""}, {"/dev/b", "usb-a", "", "", ""}, {"/dev/c", "usb-b1", "", "", ""}};
  std::vector<PortInfo> matched = matching_ports(listing, matcher);
  ASSERT_EQ(matched.size(), 2u);
  EXPECT_EQ(matched[0].device, "/dev/a");
  EXPECT_EQ(matched[1].device, "/dev/c");
}

}  // namespace
}  // namespace vx::station
