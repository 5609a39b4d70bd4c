// What a line can do to a run besides losing answers, through the real vexal on a pseudo-terminal:
// an answer left queued from before the run, a line that echoes every request (with and without a
// board behind it), and the run stopped by a signal midway. In each case a run that reports success
// must have got the board's own answers, and the port must be left usable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "protocol/frame.h"
#include "tests/support/pty_peer.h"
#include "tests/support/sim_process.h"

namespace vx {
namespace {

using testing::Bytes;
using testing::Peer;
using testing::Pty;
using namespace std::chrono_literals;

constexpr char kIdentity[] = "VQ-3140 ZARVEN v1.28";
constexpr char kEchoWarning[] = "the line echoes what is sent";

// The board's memory as this peer serves it: a byte that differs from address to address.
std::uint8_t memory_at(unsigned address) { return static_cast<std::uint8_t>(address * 7 + 3); }

Bytes memory_range(unsigned from, unsigned n) {
  Bytes b;
  for (unsigned a = from; a < from + n; ++a) b.push_back(memory_at(a));
  return b;
}

std::string hex_pairs(const Bytes& bytes) {
  std::string s;
  char pair[3];
  for (std::uint8_t v : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", v);
    s += pair;
  }
  return s;
}

// A board that knows the identity query and read telegrams ("R%06X,%02X\n").
Bytes board_answer(const Bytes& request) {
  const std::string text = testing::request_text(request);
  unsigned address = 0, n = 0;
  if (std::sscanf(text.c_str(), "R%6X,%2X", &address, &n) == 2)
    return ft12::text_answer("=" + hex_pairs(memory_range(address, n)));
  if (text == "I000000\n") return ft12::text_answer(kIdentity);
  return ft12::text_answer("*");
}

Bytes echo_only(const Bytes& request) { return request; }

Bytes echo_then_board(const Bytes& request) {
  Bytes out = request;
  const Bytes answer = board_answer(request);
  out.insert(out.end(), answer.begin(), answer.end());
  return out;
}

struct Ended {
  int status = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out, err;
};

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The last line of a console log that holds more than blanks.
std::string last_line(const std::string& log) {
  std::string last, line;
  for (char c : log + "\n") {
    if (c != '\n' && c != '\r') {
      line += c;
      continue;
    }
    if (line.find_first_not_of(' ') != std::string::npos) last = line.substr(0, line.find_last_not_of(' ') + 1);
    line.clear();
  }
  return last;
}

// vexal in a scratch folder of its own, on the pseudo-terminal.
class Vexal {
 public:
  Vexal() {
    char dir[] = "/tmp/vexal-hazards-XXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp");
    dir_ = dir;
  }
  ~Vexal() {
    std::error_code ignored;  // a scratch folder left behind in /tmp harms no later run
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void start(const std::string& device, const std::vector<std::string>& args) {
    std::vector<std::string> argv{std::string(VEXAL_BIN_DIR) + "/vexal"};
    argv.insert(argv.end(), args.begin(), args.end());
    const int out = open(path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_ = board::testing::spawn(argv, {{"VEXAL_COM1", device}}, out, path("err.txt"));
    close(out);
  }
  Ended wait() {
    int st = 0;
    waitpid(pid_, &st, 0);
    const board::testing::Exit e = board::testing::exit_of(st);
    return Ended{e.status, e.signal, file_text(path("out.txt")), file_text(path("err.txt"))};
  }
  Ended run(const std::string& device, const std::vector<std::string>& args) {
    start(device, args);
    return wait();
  }
  void interrupt(int signal_number) const { kill(pid_, signal_number); }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// --- an answer queued before the run ---

TEST(StaleAnswer, QueuedBeforeTheIdentityQueryIsNotTaken) {
  Pty pty;
  pty.preload(ft12::text_answer("*"));  // an earlier run's write, answered after that run had gone
  Peer peer(pty, board_answer);
  Vexal vexal;
  const Ended r = vexal.run(pty.path, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(std::string("Target ID:\n") + kIdentity + "\n"), std::string::npos) << r.out;
}

TEST(StaleAnswer, QueuedBeforeABingetDoesNotShiftTheFile) {
  Pty pty;
  pty.preload(ft12::text_answer("=" + hex_pairs(Bytes(64, 0xAA))));  // another range's bytes
  Peer peer(pty, board_answer);
  Vexal vexal;
  const Ended r = vexal.run(pty.path, {"@binget000100,000080>" + vexal.path("read.bin")});
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string expected(reinterpret_cast<const char*>(memory_range(0x100, 0x80).data()), 0x80);
  EXPECT_EQ(file_text(vexal.path("read.bin")), expected);
}

// --- a line that echoes ---

struct NoBoardCase {
  const char* what;
  std::vector<std::string> args;
  int status;
  const char* message;
};

TEST(Echo, WithoutABoardIsNoAnswer) {
  const NoBoardCase cases[] = {
      {"identity query", {}, 5, "Error: No response."},
      {"raw command", {"X1"}, 5, "Error: No response."},
      {"memory read", {"@binget000000,000010>x.bin"}, 5, "Error: No response."},
  };
  for (const NoBoardCase& c : cases) {
    Pty pty;
    Peer peer(pty, echo_only);
    Vexal vexal;
    const Ended r = vexal.run(pty.path, c.args);
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.what << "\n" << r.out;
    EXPECT_EQ(peer.count(), 9u) << c.what << ": every attempt made";
    EXPECT_EQ(count_of(r.err, kEchoWarning), 1u) << c.what << ": said once\n" << r.err;
  }
}

TEST(Echo, ADownloadWithOptionOldAndNoBoardFails) {
  Pty pty;
  Peer peer(pty, echo_only);
  Vexal vexal;
  std::ofstream(vexal.path("fw.s28")) << "S2090100000102030405E6\nS804000000FB\n";
  const Ended r = vexal.run(pty.path, {"old", vexal.path("fw.s28")});
  EXPECT_EQ(r.status, 5) << r.out;
  EXPECT_EQ(r.out.find("Loading completed with no errors."), std::string::npos) << r.out;
}

// The frames sent and the file read by one run against a peer that replies with `reply`.
struct Outcome {
  std::vector<Bytes> frames;
  std::string file;
};

Outcome run_against(const Peer::Reply& reply, bool read_memory) {
  Pty pty;
  Peer peer(pty, reply);
  Vexal vexal;
  std::vector<std::string> args;
  if (read_memory) args.push_back("@binget000040,000050>" + vexal.path("read.bin"));
  const Ended r = vexal.run(pty.path, args);
  EXPECT_EQ(r.status, 0) << r.out;
  return Outcome{peer.requests(), file_text(vexal.path("read.bin"))};
}

TEST(Echo, FollowedByTheBoardsAnswerSucceedsWithTheSameFrames) {
  for (bool read_memory : {false, true}) {
    const Outcome plain = run_against(board_answer, read_memory);
    const Outcome echoed = run_against(echo_then_board, read_memory);
    EXPECT_EQ(echoed.frames, plain.frames) << "the echo changed what was sent";
    EXPECT_EQ(echoed.file, plain.file);
    if (read_memory) {
      EXPECT_EQ(echoed.file.size(), 0x50u);
    }
  }
}

// --- a run stopped by a signal ---

Bytes slow_board_answer(const Bytes& request) {
  std::this_thread::sleep_for(20ms);
  return board_answer(request);
}

TEST(Interrupted, ByASignalMidReadKeepsTheFileAndReleasesThePort) {
  for (int signal_number : {SIGINT, SIGTERM}) {
    Pty pty;
    Peer peer(pty, slow_board_answer);
    Vexal vexal;
    vexal.start(pty.path, {"@binget000000,010000>" + vexal.path("read.bin")});
    ASSERT_TRUE(peer.wait_for(10, 10s));
    vexal.interrupt(signal_number);
    const Ended r = vexal.wait();
    const std::size_t asked = peer.count();
    EXPECT_EQ(r.signal, signal_number) << "the process ends by the signal itself";
    EXPECT_EQ(last_line(r.out), "Error: Interrupted.") << r.out;
    const std::string file = file_text(vexal.path("read.bin"));
    EXPECT_GE(file.size() + 64, asked * 64) << "every answer read is in the file";
    EXPECT_EQ(file.size() % 64, 0u);
    const Bytes expected = memory_range(0, static_cast<unsigned>(file.size()));
    EXPECT_EQ(file, std::string(expected.begin(), expected.end()));
    EXPECT_FALSE(pty.exclusive()) << "the exclusive flag outlived the run";
  }
}

TEST(Interrupted, TheNextRunOnThePortSucceeds) {
  Pty pty;
  Peer peer(pty, slow_board_answer);
  Vexal first;
  first.start(pty.path, {"@binget000000,010000>" + first.path("read.bin")});
  ASSERT_TRUE(peer.wait_for(5, 10s));
  first.interrupt(SIGINT);
  first.wait();
  Vexal next;
  const Ended r = next.run(pty.path, {});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(std::string("Target ID:\n") + kIdentity + "\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace vx
