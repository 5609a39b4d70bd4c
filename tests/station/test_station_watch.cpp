// Watch mode: which port runs its job when, and what the device watcher notices in a device folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "frontends/station/model/watch.h"
#include "frontends/station/os/devwatch.h"

namespace vx::station {
namespace {

namespace fs = std::filesystem;

const PortInfo kA{"/dev/ttyUSB0", "usb-board-A", "0403:6001", "A", ""};
const PortInfo kB{"/dev/ttyUSB1", "usb-board-B", "0403:6001", "B", ""};
const PortInfo kPlain{"/dev/ttyACM0", "", "", "", ""};

std::vector<std::string> keys(const std::vector<PortInfo>& ports) {
  std::vector<std::string> k;
  for (const PortInfo& p : ports) k.push_back(port_key(p));
  return k;
}

TEST(StationWatch, PortKeys) {
  EXPECT_EQ(port_key(kA), "usb-board-A");
  EXPECT_EQ(port_key(kPlain), "/dev/ttyACM0");
}

// One step of a scenario: what happens, and which jobs start because of it.
struct Step {
  enum { Scan, Gone, End } what;
  std::vector<PortInfo> present;  // Scan
  std::string key;                // Gone, End
  std::vector<std::string> starts;
  std::vector<std::string> shown;
};

void play(const std::string& scenario, const std::vector<Step>& steps) {
  WatchTable table;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    std::vector<std::string> started;
    if (s.what == Step::Scan) started = keys(table.scan(s.present));
    if (s.what == Step::Gone) table.went_away(s.key);
    if (s.what == Step::End && table.job_ended(s.key)) started.push_back(s.key);
    EXPECT_EQ(started, s.starts) << scenario << ", step " << i;
    EXPECT_EQ(table.shown(), s.shown) << scenario << ", step " << i;
  }
}

TEST(StationWatch, APortRunsItsJobOnceUntilItGoesAndComesBack) {
  play("plug, job, unplug, plug", {{Step::Scan, {kA}, "", {"usb-board-A"}, {"usb-board-A"}},
                                   {Step::Scan, {kA}, "", {}, {"usb-board-A"}},
                                   {Step::End, {}, "usb-board-A", {}, {"usb-board-A"}},  // the row shows the result
                                   {Step::Scan, {kA}, "", {}, {"usb-board-A"}},          // still plugged: no second run
                                   {Step::Scan, {}, "", {}, {}},                         // unplugged: the row goes
                                   {Step::Scan, {kA}, "", {"usb-board-A"}, {"usb-board-A"}}});
}

TEST(StationWatch, UnpluggedWhileItsJobRuns) {
  play("unplug during the job",
       {{Step::Scan, {kA, kB}, "", {"usb-board-A", "usb-board-B"}, {"usb-board-A", "usb-board-B"}},
        {Step::Scan, {kB}, "", {}, {"usb-board-A", "usb-board-B"}},  // A's job still runs: its row stays
        {Step::End, {}, "usb-board-A", {}, {"usb-board-B"}},         // then goes with the job's end
        {Step::End, {}, "usb-board-B", {}, {"usb-board-B"}}});
}

TEST(StationWatch, ReplugAnotherBoardWhileTheJobRuns) {
  play("unplug and plug during the job",
       {{Step::Scan, {kA}, "", {"usb-board-A"}, {"usb-board-A"}},
        {Step::Scan, {}, "", {}, {"usb-board-A"}},
        {Step::Scan, {kA}, "", {}, {"usb-board-A"}},                       // not twice at once
        {Step::End, {}, "usb-board-A", {"usb-board-A"}, {"usb-board-A"}},  // the new board's turn
        {Step::End, {}, "usb-board-A", {}, {"usb-board-A"}}});
}

TEST(StationWatch, AQuickReplugBetweenTwoScansIsSeenThroughTheDeletedLink) {
  play("link deleted and made again between scans", {{Step::Scan, {kA}, "", {"usb-board-A"}, {"usb-board-A"}},
                                                     {Step::End, {}, "usb-board-A", {}, {"usb-board-A"}},
                                                     {Step::Gone, {}, "usb-board-A", {}, {}},
                                                     {Step::Scan, {kA}, "", {"usb-board-A"}, {"usb-board-A"}}});
}

TEST(StationWatch, ADeletedDeviceNodeEndsThePortsOnIt) {
  play("device node deleted",
       {{Step::Scan, {kA, kPlain}, "", {"usb-board-A", "/dev/ttyACM0"}, {"/dev/ttyACM0", "usb-board-A"}},
        {Step::End, {}, "usb-board-A", {}, {"/dev/ttyACM0", "usb-board-A"}},
        {Step::End, {}, "/dev/ttyACM0", {}, {"/dev/ttyACM0", "usb-board-A"}},
        {Step::Gone, {}, "/dev/ttyUSB0", {}, {"/dev/ttyACM0"}},
        {Step::Gone, {}, "/dev/ttyACM0", {}, {}},
        {Step::Gone, {}, "/dev/ttyUSB7", {}, {}}});
}

TEST(StationWatch, AnEndForAPortNotWatchedIsIgnored) { play("stray end", {{Step::End, {}, "usb-nobody", {}, {}}}); }

// A device folder of the test's own, as udev would fill /dev.
class DeviceFolder : public ::testing::Test {
 protected:
  fs::path root = fs::temp_directory_path() / ("station-dev-" + std::to_string(::getpid()));
  DeviceWatcher watcher;

  void SetUp() override {
    fs::remove_all(root);
    fs::create_directories(root);
    std::string why;
    ASSERT_TRUE(watcher.open(root.string(), why)) << why;
  }
  void TearDown() override { fs::remove_all(root); }
  void touch(const fs::path& path) { std::ofstream(path) << ""; }
  fs::path by_id() const { return root / "serial" / "by-id"; }
};

TEST_F(DeviceFolder, ByIdFolderMadeLaterIsWatched) {
  EXPECT_FALSE(watcher.read_changes().relist);
  fs::create_directory(root / "serial");
  EXPECT_TRUE(watcher.read_changes().relist);
  fs::create_directory(by_id());
  EXPECT_TRUE(watcher.read_changes().relist);
  touch(root / "ttyUSB0");
  fs::create_symlink(root / "ttyUSB0", by_id() / "usb-board-A");
  DeviceChanges made = watcher.read_changes();
  EXPECT_TRUE(made.relist);
  EXPECT_TRUE(made.gone.empty());
  fs::remove(by_id() / "usb-board-A");
  fs::remove(root / "ttyUSB0");
  DeviceChanges gone = watcher.read_changes();
  EXPECT_TRUE(gone.relist);
  EXPECT_EQ(gone.gone, (std::vector<std::string>{"usb-board-A", (root / "ttyUSB0").string()}));
}

TEST_F(DeviceFolder, ByIdFolderRemovedWithTheLastAdapterAndMadeAgain) {
  fs::create_directories(by_id());
  watcher.read_changes();
  fs::create_symlink("/dev/null", by_id() / "usb-board-A");
  watcher.read_changes();
  fs::remove_all(root / "serial");
  DeviceChanges gone = watcher.read_changes();
  EXPECT_TRUE(gone.relist);
  EXPECT_EQ(gone.gone, std::vector<std::string>{"usb-board-A"});
  fs::create_directories(by_id());
  watcher.read_changes();
  fs::create_symlink("/dev/null", by_id() / "usb-board-B");
  fs::rename(by_id() / "usb-board-B", by_id() / "usb-board-C");  // udev makes links by renaming
  DeviceChanges renamed = watcher.read_changes();
  EXPECT_TRUE(renamed.relist);
  EXPECT_EQ(renamed.gone, std::vector<std::string>{"usb-board-B"});
}

TEST_F(DeviceFolder, OnlySerialDevicesInTheRootCount) {
  for (const char* name : {"pts0", "ttyS0", "null", "serialx"}) touch(root / name);
  EXPECT_FALSE(watcher.read_changes().relist);
  for (const char* name : {"ttyUSB3", "ttyACM12"}) {
    touch(root / name);
    EXPECT_TRUE(watcher.read_changes().relist) << name;
  }
}

TEST(StationDeviceWatcher, AFolderThatIsntThere) {
  DeviceWatcher watcher;
  std::string why;
  EXPECT_FALSE(watcher.open("/nonexistent/dev", why));
  EXPECT_NE(why.find("can't watch /nonexistent/dev"), std::string::npos) << why;
}

TEST(StationDeviceWatcher, SerialDeviceNames) {
  for (const char* name : {"ttyUSB0", "ttyUSB15", "ttyACM0"}) EXPECT_TRUE(is_serial_device_name(name)) << name;
  for (const char* name : {"ttyS0", "ttyusb0", "xttyUSB0", "serial", ""})
    EXPECT_FALSE(is_serial_device_name(name)) << name;
}

}  // namespace
}  // namespace vx::station
