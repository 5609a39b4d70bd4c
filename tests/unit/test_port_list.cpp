// The list of serial ports, read from a scratch device folder and sysfs tree laid out like Linux's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/port_list.h"

namespace vx {
namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

void usb_device(const fs::path& dir, const char* vendor, const char* product, const char* serial, const char* maker,
                const char* name) {
  write_file(dir / "idVendor", vendor);
  write_file(dir / "idProduct", product);
  if (serial) write_file(dir / "serial", serial);
  if (maker) write_file(dir / "manufacturer", maker);
  if (name) write_file(dir / "product", name);
}

// class/tty/NAME with a `device` link to `device_dir` (none when empty), and a type file where given.
void tty(const fs::path& sys, const char* name, const fs::path& device_dir, const char* type = nullptr) {
  const fs::path entry = sys / "class" / "tty" / name;
  fs::create_directories(entry);
  if (!device_dir.empty()) {
    fs::create_directories(device_dir);
    fs::create_directory_symlink(device_dir, entry / "device");
  }
  if (type) write_file(entry / "type", type);
}

class PortList : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("vexal-ports-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    dev_ = root_ / "dev";
    sys_ = root_ / "sys";
    fs::create_directories(dev_);
    fs::create_directories(sys_ / "class" / "tty");
  }
  void TearDown() override { fs::remove_all(root_); }
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (const SerialPortInfo& port : list_serial_ports({dev_.string(), sys_.string()}))
      out.push_back(port_list_line(port));
    return out;
  }
  fs::path root_, dev_, sys_;
};

TEST_F(PortList, NothingPresentListsNothing) { EXPECT_TRUE(lines().empty()); }

TEST_F(PortList, ByIdLinksThenRealTtysWithTheirUsbDetails) {
  const fs::path usb = sys_ / "devices" / "pci0000:00" / "usb1";
  usb_device(usb / "1-1", "0403", "6001", "A1B2C3", "FTDI", "FT232R USB UART");
  tty(sys_, "ttyUSB0", usb / "1-1" / "1-1:1.0" / "ttyUSB0");
  fs::create_directories(dev_ / "serial" / "by-id");
  fs::create_symlink("../../ttyUSB0", dev_ / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
  usb_device(usb / "1-2", "2341", "0043", nullptr, "Arduino (www.arduino.cc)", nullptr);
  tty(sys_, "ttyACM0", usb / "1-2" / "1-2:1.0");
  tty(sys_, "ttyS0", sys_ / "devices" / "platform" / "serial8250" / "tty" / "ttyS0", "4");
  tty(sys_, "ttyS1", sys_ / "devices" / "platform" / "serial8250" / "tty" / "ttyS1", "0");  // no UART
  tty(sys_, "ttyS2", {});                                                                   // no device behind it
  tty(sys_, "ttyUSB1", {});                                                                 // gone
  tty(sys_, "tty0", sys_ / "devices" / "virtual" / "tty0");  // a console, not a serial port
  const std::string d = dev_.string();
  EXPECT_EQ(lines(),
            (std::vector<std::string>{
                d + "/ttyACM0\t-\t2341:0043\t-\tArduino (www.arduino.cc)",
                d + "/ttyS0\t-\t-\t-\t-",
                d + "/ttyUSB0\tusb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\t0403:6001\tA1B2C3\tFTDI FT232R USB UART",
            }));
}

TEST_F(PortList, ALinkToAMissingDeviceIsStillListedByItsNameAndAStrayFileIsNot) {
  fs::create_directories(dev_ / "serial" / "by-id");
  fs::create_symlink("../../ttyUSB7", dev_ / "serial" / "by-id" / "usb-b");
  fs::create_symlink("../../ttyUSB3", dev_ / "serial" / "by-id" / "usb-a");
  std::ofstream(dev_ / "serial" / "by-id" / "sim.log") << "not a port\n";
  const std::string d = dev_.string();
  EXPECT_EQ(lines(), (std::vector<std::string>{d + "/ttyUSB3\tusb-a\t-\t-\t-", d + "/ttyUSB7\tusb-b\t-\t-\t-"}));
}

TEST(PortListLine, UnknownFieldsAreDashesAndNoFieldSplitsTheLine) {
  EXPECT_EQ(port_list_line(SerialPortInfo{}), "-\t-\t-\t-\t-");
  EXPECT_EQ(port_list_line(SerialPortInfo{"COM3", "", "", "", "\\Device\\Serial\t0\n"}),
            "COM3\t-\t-\t-\t\\Device\\Serial 0 ");
}

}  // namespace
}  // namespace vx
