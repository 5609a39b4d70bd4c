// The terminal front-end over a real pseudo-terminal: a small peer on the master side answers (or not),
// and the read window is measured on the line: 15 ms after the last byte, 306 ms in all.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/frame.h"
#include "tests/support/pty_peer.h"

namespace vx {
namespace {

using Clock = std::chrono::steady_clock;
using testing::Bytes;
using testing::Peer;
using testing::Pty;

struct Result {
  int status = -1;
  std::string out;
  Clock::time_point started, ended;  // before vexal was started, after it had ended
};

Result run_vexal(const std::string& device, const std::vector<std::string>& args) {
  int pipefd[2];
  if (pipe(pipefd) != 0) throw std::runtime_error("pipe");
  const Clock::time_point started = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], STDOUT_FILENO);
    close(pipefd[0]);
    setenv("VEXAL_COM1", device.c_str(), 1);
    std::vector<char*> argv;
    std::string exe = std::string(VEXAL_BIN_DIR) + "/vexal";
    argv.push_back(exe.data());
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  Result r;
  r.started = started;
  char buf[4096];
  for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<std::size_t>(n));
  close(pipefd[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.ended = Clock::now();
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::vector<long> gaps_ms(const std::vector<Clock::time_point>& t) {
  std::vector<long> out;
  for (std::size_t i = 1; i < t.size(); ++i)
    out.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(t[i] - t[i - 1]).count());
  return out;
}

TEST(PtyLink, IdentityQueryIsAnswered) {
  Pty pty;
  Peer peer(pty, [](const Bytes&) { return ft12::text_answer("VQ-3140 ZARVEN v1.28"); });
  Result r = run_vexal(pty.path, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Target ID:\nVQ-3140 ZARVEN v1.28\n\nExit code     0\n"), std::string::npos) << r.out;
  ASSERT_EQ(peer.requests().size(), 1u);
  EXPECT_EQ(peer.requests()[0], ft12::text_request("I000000\n"));
}

// Every bound below holds however loaded the machine: a load can only delay what the test sees. The
// opening listens for one window before the first request, and each request waits out its own, so the
// k-th request can't reach the peer before k full windows have passed since vexal was started, and
// vexal can't end before ten. The peer may read the last request after vexal has ended: it is waited
// for. The upper bound only guards against a window that never closes.
TEST(PtyLink, SilentPeerWaitsTheFullWindowNineTimes) {
  constexpr std::chrono::milliseconds kWindow{306}, kHangGuard{5000};
  Pty pty;
  Peer peer(pty, [](const Bytes&) { return Bytes{}; });
  Result r = run_vexal(pty.path, {"X1"});
  EXPECT_EQ(r.status, 5);
  ASSERT_TRUE(peer.wait_for(9, kHangGuard)) << peer.count() << " requests";
  ASSERT_EQ(peer.requests().size(), 9u);
  const std::vector<Clock::time_point> times = peer.request_times();
  for (std::size_t k = 0; k < times.size(); ++k)
    EXPECT_GE(times[k] - r.started, kWindow * static_cast<int>(k + 1))
        << "a read window ended early before request " << k + 1;
  EXPECT_GE(r.ended - r.started, kWindow * 10) << "the last read window ended early";
  for (long g : gaps_ms(times)) EXPECT_LT(g, kHangGuard.count()) << "a read window did not close";
}

TEST(PtyLink, WindowEnds15msAfterTheLastByte) {
  Pty pty;
  // One byte that starts no frame, at once: the window closes 15 ms later and the attempt fails.
  Peer peer(pty, [](const Bytes&) { return Bytes{0x00}; });
  Result r = run_vexal(pty.path, {"X1"});
  EXPECT_EQ(r.status, 5);
  ASSERT_TRUE(peer.wait_for(9, std::chrono::milliseconds(5000))) << peer.count() << " requests";
  ASSERT_EQ(peer.requests().size(), 9u);
  for (long g : gaps_ms(peer.request_times())) {
    EXPECT_GE(g, 14) << "closed before 15 ms of silence";
    EXPECT_LT(g, 120) << "waited far past 15 ms of silence";
  }
}

TEST(PtyLink, PortHeldByAnotherVexalIsRefusedWithAReason) {
  Pty pty;
  Peer peer(pty, [](const Bytes&) { return Bytes{}; });  // keeps the first run busy for 9 windows
  pid_t first = fork();
  if (first == 0) {
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    setenv("VEXAL_COM1", pty.path.c_str(), 1);
    std::string exe = std::string(VEXAL_BIN_DIR) + "/vexal";
    execl(exe.c_str(), exe.c_str(), "X1", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (peer.requests().empty() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Result second = run_vexal(pty.path, {"X2"});
  kill(first, SIGTERM);
  waitpid(first, nullptr, 0);
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.out.find("Wrong settings"), std::string::npos) << second.out;
}

}  // namespace
}  // namespace vx
