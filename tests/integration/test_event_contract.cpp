// The event stream's contract: what the real vexal writes to VEXAL_EVENTS, read back by the station's
// own parser (frontends/station/events.h). vexal runs a job against the simulator that makes it write
// every kind of event (start, file, phase, identity, progress, end), with a board identity holding a
// byte that is not UTF-8; each line must reach the station as the event vexal meant.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "frontends/station/events.h"
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

}  // namespace
}  // namespace vx
