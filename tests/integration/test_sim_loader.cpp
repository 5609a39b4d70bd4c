// The loader against the board simulator over a pseudo-terminal: the way users try vexal without a
// board. Each test starts vq3140-sim with --link in a fresh directory and runs VEXAL_COM1=<link> vexal.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/sim_process.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using board::testing::Exit;
using board::testing::SimProcess;

const std::string kBin = VEXAL_BIN_DIR;

std::string file_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A simulator in a temporary directory, its link "com1" and its log "sim.log" there.
class SimLoader : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args) {
    args.insert(args.end(), {"--log", dir.path() + "/sim.log"});
    sim = std::make_unique<SimProcess>(kBin, link(), args, dir.path() + "/sim.err");
    ASSERT_TRUE(sim->ready()) << file_text(dir.path() + "/sim.err");
  }
  std::string link() const { return dir.path() + "/com1"; }
  Exit vexal(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kBin + "/vexal"};
    argv.insert(argv.end(), args.begin(), args.end());
    return board::testing::run_program(argv, {{"VEXAL_COM1", link()}});
  }
  std::string log() const { return file_text(dir.path() + "/sim.log"); }

  test::TempDir dir;
  std::unique_ptr<SimProcess> sim;
};

TEST_F(SimLoader, IdentityWithoutArguments) {
  start({});
  Exit r = vexal({});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Target ID:\nVQ-3140 ZARVEN v1.28\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Exit code     0"), std::string::npos) << r.out;
}

TEST_F(SimLoader, RawCommandsPositiveAndNegative) {
  start({"--answer", "PING=PONG", "--answer", "ARM=!not ready"});
  Exit ok = vexal({"PING"});
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_NE(ok.out.find("Answer: PONG"), std::string::npos) << ok.out;

  Exit refused = vexal({"PING", "ARM"});
  EXPECT_EQ(refused.status, 7) << refused.out;
  EXPECT_NE(refused.out.find("Answer: !not ready"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("Error: Negative response."), std::string::npos) << refused.out;

  Exit unknown = vexal({"XYZ"});
  EXPECT_EQ(unknown.status, 7) << unknown.out;
  EXPECT_NE(unknown.out.find("Answer: ?unknown command"), std::string::npos) << unknown.out;
}

TEST_F(SimLoader, SilentBoardGetsNineAttempts) {
  start({"--fault", "silent:after=0"});
  Exit r = vexal({"PING"});
  EXPECT_EQ(r.status, 5) << r.out;
  EXPECT_NE(r.out.find(".........Error: No response."), std::string::npos) << r.out;
  EXPECT_EQ(count_of(log(), "board silent: no answer"), 9u) << log();
}

TEST_F(SimLoader, LateAnswerIsTakenByTheNextExchange) {
  // ~A reads one window and moves on; A's answer comes 400 ms late, inside the window of B, whose own
  // answer then comes too late for the run.
  start({"--fault", "late:every=1", "--answer", "A=first", "--answer", "B=second"});
  Exit r = vexal({"~A", "B"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Answer: first"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Answer: second"), std::string::npos) << r.out;
}

TEST_F(SimLoader, TildeSendsOnceWithoutTheTilde) {
  start({"--answer", "GO=started"});
  Exit r = vexal({"~GO"});
  EXPECT_EQ(r.status, 0) << r.out;
  std::string l = log();
  EXPECT_EQ(count_of(l, " in "), 1u) << l;
  EXPECT_NE(l.find("\"GO\\n\" from the answer table"), std::string::npos) << l;
  EXPECT_EQ(r.out.find("started"), std::string::npos) << r.out;  // the answer is not read
}

TEST_F(SimLoader, LostAnswerIsRetried) {
  start({"--fault", "drop:every=2", "--answer", "PING=PONG"});
  Exit r = vexal({"PING", "PING"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(count_of(log(), " in "), 3u) << log();
  EXPECT_EQ(count_of(log(), "drop "), 1u) << log();
}

TEST_F(SimLoader, MemoryCommandsRoundTripAndTheDumpMatches) {
  std::string image;
  for (int i = 0; i < 300; ++i) image.push_back(static_cast<char>(i * 7 + 3));
  dir.write("in.bin", image);
  start({"--dump", dir.path() + "/dump.bin@012300,12C"});
  Exit r = vexal({"@binput012300<in.bin", "@binget012300,00012C>out.bin"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(dir.read("out.bin"), image);
  Exit stopped = sim->stop(SIGINT);
  EXPECT_EQ(stopped.status, 0);
  EXPECT_EQ(dir.read("dump.bin"), image);
  EXPECT_FALSE(dir.exists("com1"));
}

TEST_F(SimLoader, ManyRunsOnOneBoard) {
  start({});
  for (int run = 0; run < 5; ++run) {
    Exit r = vexal({});
    ASSERT_EQ(r.status, 0) << "run " << run << "\n" << r.out;
  }
}

}  // namespace
}  // namespace vx
