// vq3140-sim on its own line: raw frames through the pseudo-terminal, the program's start and stop, the
// dump, the link, the pacing and a late answer as they reach a real reader. Time bounds are lower
// bounds only (bytes can't come before the board sends them); the upper ones are left to the fake-clock
// unit tests, which a loaded machine can't upset.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/sim_process.h"
#include "protocol/frame.h"
#include "tests/support/scripted_board.h"

namespace vx {
namespace {

using board::testing::Clock;
using board::testing::Exit;
using board::testing::SimProcess;
using std::chrono::milliseconds;
using test::Bytes;

const std::string kBin = VEXAL_BIN_DIR;

struct Arrival {
  Clock::time_point at;
  Bytes bytes;
};

// The loader's end of the line, opened by the link, raw.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios t{};
    if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  bool is_open() const { return fd_ >= 0; }
  void send(const Bytes& b) const { ASSERT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  // Everything that comes until `quiet` passes without a byte (or `limit` in all).
  std::vector<Arrival> receive(milliseconds quiet = milliseconds(100), milliseconds limit = milliseconds(3000)) const {
    std::vector<Arrival> got;
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
      std::uint8_t buf[512];
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      got.push_back(Arrival{Clock::now(), Bytes(buf, buf + n)});
    }
    return got;
  }
  Bytes exchange(const Bytes& request) const {
    send(request);
    Bytes all;
    for (auto& a : receive()) all.insert(all.end(), a.bytes.begin(), a.bytes.end());
    return all;
  }

 private:
  int fd_;
};

Bytes joined(const std::vector<Arrival>& arrivals) {
  Bytes all;
  for (auto& a : arrivals) all.insert(all.end(), a.bytes.begin(), a.bytes.end());
  return all;
}

long ms_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration_cast<milliseconds>(b - a).count();
}

class SimLine : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args) {
    args.insert(args.end(), {"--log", dir.path() + "/sim.log"});
    sim = std::make_unique<SimProcess>(kBin, link(), args, dir.path() + "/sim.err");
    ASSERT_TRUE(sim->ready()) << dir.read("sim.err");
  }
  std::string link() const { return dir.path() + "/com1"; }

  test::TempDir dir;
  std::unique_ptr<SimProcess> sim;
};

TEST_F(SimLine, AnswersFramesAndIgnoresGarbage) {
  start({});
  Port port(link());
  ASSERT_TRUE(port.is_open());
  EXPECT_EQ(port.exchange(ft12::text_request("I000000\n")), ft12::text_answer("VQ-3140 ZARVEN v1.28"));
  EXPECT_TRUE(port.exchange(test::bytes_of("garbage\x68\x02")).empty());
  // The torn frame above is dropped once the line has been idle (the 100 ms of receive()).
  EXPECT_EQ(port.exchange(ft12::text_request("W000000<5A\n")), ft12::text_answer("*"));
  EXPECT_EQ(port.exchange(ft12::text_request("R000000,02\n")), ft12::text_answer("=5AFF"));
  std::string log = dir.read("sim.log");
  EXPECT_NE(log.find(" rej   67 61 72 62 61 67 65  | not a start byte"), std::string::npos) << log;
}

TEST_F(SimLine, DumpIsCompleteAfterSigtermAndTheLinkIsGone) {
  dir.write("pre.bin", std::string(1000, '\x42'));
  start({"--load", dir.path() + "/pre.bin@000800", "--dump", dir.path() + "/all.bin"});
  {
    Port port(link());
    EXPECT_EQ(port.exchange(ft12::text_request("W000000<01\n")), ft12::text_answer("*"));
  }
  Exit e = sim->stop(SIGTERM);
  EXPECT_EQ(e.status, 0);
  std::string all = dir.read("all.bin");
  ASSERT_EQ(all.size(), std::size_t{1} << 24);
  EXPECT_EQ(all[0], '\x01');
  EXPECT_EQ(all.substr(0x800, 1000), std::string(1000, '\x42'));
  EXPECT_EQ(all[0x800 + 1000], '\xFF');
  EXPECT_FALSE(dir.exists("com1"));
}

TEST_F(SimLine, PacedAnswerTakesItsLineTime) {
  start({"--baud", "2400"});  // 4.17 ms a byte
  Port port(link());
  Bytes request = ft12::text_request("I000000\n");             // 18 bytes: 75 ms on the wire
  Bytes expected = ft12::text_answer("VQ-3140 ZARVEN v1.28");  // 30 bytes: 125 ms
  auto sent = Clock::now();
  port.send(request);
  auto got = port.receive();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(joined(got), expected);
  // Request and answer on the wire one after the other; a byte may leave up to 1 ms before its time.
  EXPECT_GE(ms_between(sent, got.front().at), 74);
  EXPECT_GE(ms_between(sent, got.back().at), 194);
  EXPECT_GT(got.size(), 10u) << "the answer came in too few pieces to be paced";
}

TEST_F(SimLine, LateAnswerComesAfterTheReadWindow) {
  start({"--fault", "late:every=1"});
  Port port(link());
  auto sent = Clock::now();
  port.send(ft12::text_request("I000000\n"));
  auto got = port.receive(milliseconds(600));
  ASSERT_FALSE(got.empty());
  EXPECT_GE(ms_between(sent, got.front().at), 306);
  EXPECT_EQ(joined(got), ft12::text_answer("VQ-3140 ZARVEN v1.28"));
}

TEST_F(SimLine, ExistingLinkIsReplacedButAFileIsNot) {
  ASSERT_EQ(symlink("/nonexistent", link().c_str()), 0);
  start({});
  Port port(link());
  EXPECT_TRUE(port.is_open());
  sim->stop();

  dir.write("plain", "keep me");
  SimProcess refused(kBin, dir.path() + "/plain", {}, dir.path() + "/refused.err");
  Exit e = refused.stop(0);  // signal 0: only reaps it
  EXPECT_EQ(e.status, 1);
  EXPECT_NE(dir.read("refused.err").find("not a symbolic link"), std::string::npos);
  EXPECT_EQ(dir.read("plain"), "keep me");
}

// A serial device stands in for a cable here: the far end of another pseudo-terminal pair. The board
// takes the UART's pacing for granted there, so even at 2400 baud it answers at once.
TEST_F(SimLine, ServesOnASerialDevice) {
  int master = -1, slave = -1;
  char name[128];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  close(slave);
  start({"--device", name, "--baud", "2400"});
  Bytes request = ft12::text_request("I000000\n");
  ASSERT_EQ(write(master, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  Bytes got;
  auto sent = Clock::now();
  for (pollfd p{master, POLLIN, 0}; got.size() < 30 && poll(&p, 1, 1000) > 0;) {
    std::uint8_t buf[64];
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(got, ft12::text_answer("VQ-3140 ZARVEN v1.28"));
  // Paced as on a pseudo-terminal it would take 75 ms for the request and 121 ms for the answer.
  EXPECT_LT(ms_between(sent, Clock::now()), 190) << "paced although the UART paces";
  termios t{};
  ASSERT_EQ(tcgetattr(master, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B2400);
  sim->stop();
  close(master);
}

}  // namespace
}  // namespace vx
