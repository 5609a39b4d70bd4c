// The event stream's contract: what the real vexal writes to VEXAL_EVENTS, read back by the station's
// own parser (frontends/station/events.h). vexal runs a job against the simulator that makes it write
// every kind of event (start, file, phase, identity, progress, end), with a board identity holding a
// byte that is not UTF-8; each line must reach the station as the event vexal meant. And every phase
// vexal can name, written by its own event channel, must be a phase the station shows; every
// `--list-ports` line vexal writes must reach the station as the port it describes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "console/events.h"
#include "frontends/station/model/board.h"
#include "frontends/station/os/ports.h"
#include "serial/port_list.h"

#include "frontends/station/model/events.h"
#include "tests/support/scripted_board.h"
#include "tests/support/sim_process.h"

namespace vx {
namespace {

using board::testing::Exit;
using board::testing::SimProcess;
using station::EventKind;

const std::string kBin = VEXAL_BIN_DIR;
const std::string kSource = VEXAL_SOURCE_DIR;

std::vector<std::string> lines_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The example firmware's first `count` records and its termination record: a download of a few blocks.
std::string short_firmware(std::size_t count) {
  const std::vector<std::string> records = lines_of(kSource + "/examples/firmware.s28");
  std::string out;
  for (std::size_t i = 0; i < count && i + 1 < records.size(); ++i) out += records[i] + "\n";
  return out + records.back() + "\n";
}

TEST(EventContract, EveryKindVexalWritesReachesTheStationAsMeant) {
  test::TempDir dir;
  const std::string link = dir.path() + "/com1";
  SimProcess sim(kBin, link, {"--identity", "VQ-3140 caf\xe9 v1"}, dir.path() + "/sim.err");
  ASSERT_TRUE(sim.ready()) << file_text(dir.path() + "/sim.err");
  dir.write("fw.s28", short_firmware(200));
  dir.write("inner.txt", "I000000\n@verify<fw.s28\n");
  dir.write("job.txt", "#inner.txt\n");
  const std::string events = dir.path() + "/events.jsonl";
  const Exit run = board::testing::run_program(
      {"/bin/sh", "-c", "cd " + dir.path() + " && exec " + kBin + "/vexal --quiet fw.s28 job.txt"},
      {{"VEXAL_COM1", link}, {"VEXAL_EVENTS", events}});
  ASSERT_EQ(run.status, 0) << run.out;

  std::map<EventKind, int> seen;
  std::vector<station::Event> parsed;
  for (const std::string& line : lines_of(events)) {
    const std::optional<station::Event> event = station::parse_event(line);
    ASSERT_TRUE(event) << "the station can't read: " << line;
    ++seen[event->kind];
    parsed.push_back(*event);
  }
  for (EventKind kind :
       {EventKind::Start, EventKind::Phase, EventKind::Identity, EventKind::Progress, EventKind::File, EventKind::End})
    EXPECT_GT(seen[kind], 0) << "no event of kind " << static_cast<int>(kind);
  EXPECT_EQ(seen[EventKind::Other], 0) << "an event kind the station doesn't know";
  EXPECT_EQ(seen[EventKind::Start], 1);
  EXPECT_EQ(seen[EventKind::End], 1);

  const station::Event& start = parsed.front();
  EXPECT_EQ(start.kind, EventKind::Start);
  EXPECT_EQ(start.port, link);
  EXPECT_FALSE(start.text.empty());  // the version
  for (const station::Event& e : parsed) {
    if (e.kind == EventKind::Phase || e.kind == EventKind::Progress) {
      EXPECT_TRUE(station::vexal_phase_named(e.phase)) << "a phase the station doesn't know: " << e.phase;
    }
    if (e.kind == EventKind::Identity) {
      EXPECT_EQ(e.text, "VQ-3140 caf\xc3\xa9 v1");
    }
    if (e.kind == EventKind::Progress) {
      EXPECT_GT(e.total, 0);
      EXPECT_LE(e.done, e.total);
    }
    if (e.kind == EventKind::File) {
      // Four openings: the command file, the job, the nested file and the verify's file.
      EXPECT_TRUE(e.role == "command" || e.role == "nested" || e.role == "verify") << e.role;
      EXPECT_EQ(e.size, static_cast<std::int64_t>(file_text(dir.path() + "/" + e.path).size())) << e.path;
      EXPECT_EQ(e.sha256.size(), 64u) << e.path;
    }
  }
  EXPECT_EQ(seen[EventKind::File], 4);
  const station::Event& end = parsed.back();
  EXPECT_EQ(end.kind, EventKind::End);
  EXPECT_EQ(end.code, 0);
  EXPECT_EQ(end.text, "");
  EXPECT_GT(end.bytes, 0);
  EXPECT_EQ(end.written.value_or(-1) + end.read.value_or(-1), end.bytes);
  EXPECT_EQ(end.text_retries, 0);
  EXPECT_EQ(end.block_retries, 0);
  EXPECT_GT(end.seconds, 0);
}

TEST(EventContract, EveryPhaseVexalCanNameIsAPhaseTheStationShows) {
  test::TempDir dir;
  const std::string events = dir.path() + "/events.jsonl";
  {
    EventChannel channel(events);
    ASSERT_TRUE(channel.open());
    for (const event_phase::Named& named : event_phase::kNames) channel.phase_started(named.phase, "fw.s28");
  }
  const std::vector<std::string> lines = lines_of(events);
  ASSERT_EQ(lines.size(), std::size(event_phase::kNames));
  std::set<station::Phase> shown;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::optional<station::Event> event = station::parse_event(lines[i]);
    ASSERT_TRUE(event) << "the station can't read: " << lines[i];
    EXPECT_EQ(event->kind, EventKind::Phase) << lines[i];
    station::Board board;
    station::start_board(board, station::SteadyTime{}, "");
    EXPECT_TRUE(station::apply_event(board, *event, station::SteadyTime{})) << "the row ignores: " << lines[i];
    EXPECT_STREQ(station::phase_name(board.phase), event_phase::kNames[i].name) << lines[i];
    EXPECT_EQ(board.file, "fw.s28") << lines[i];
    shown.insert(board.phase);
  }
  EXPECT_EQ(shown.size(), lines.size()) << "two of vexal's phases show as one";
}

struct PortCase {
  const char* edge;
  SerialPortInfo written;
  station::PortInfo read;
};

TEST(EventContract, EveryPortLineVexalWritesReachesTheStationAsThePort) {
  const PortCase cases[] = {
      {"every field known",
       {"/dev/ttyUSB0", "usb-FTDI_FT232R_A1-if00-port0", "0403:6001", "A1", "FTDI FT232R"},
       {"/dev/ttyUSB0", "usb-FTDI_FT232R_A1-if00-port0", "0403:6001", "A1", "FTDI FT232R"}},
      {"only the device", {"/dev/ttyS0", "", "", "", ""}, {"/dev/ttyS0", "", "", "", ""}},
      {"a TAB and a line break inside a description",
       {"/dev/ttyACM0", "", "2341:0043", "", "Maker\tBoard\nUno"},
       {"/dev/ttyACM0", "", "2341:0043", "", "Maker Board Uno"}},
      {"a Windows port", {"COM3", "", "", "", "USB Serial Port"}, {"COM3", "", "", "", "USB Serial Port"}},
  };
  for (const auto& c : cases) {
    const std::vector<station::PortInfo> ports = station::parse_port_listing(port_list_line(c.written) + "\n");
    ASSERT_EQ(ports.size(), 1u) << c.edge << ": " << port_list_line(c.written);
    EXPECT_EQ(ports[0].device, c.read.device) << c.edge;
    EXPECT_EQ(ports[0].by_id, c.read.by_id) << c.edge;
    EXPECT_EQ(ports[0].vid_pid, c.read.vid_pid) << c.edge;
    EXPECT_EQ(ports[0].serial, c.read.serial) << c.edge;
    EXPECT_EQ(ports[0].description, c.read.description) << c.edge;
  }
}

}  // namespace
}  // namespace vx
