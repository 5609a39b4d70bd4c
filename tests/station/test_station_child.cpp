// Starting vexal: the events pipe under its own number, the log, the process group, the signals, and
// no descriptor of one job leaking into another.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "frontends/station/os/child.h"

namespace vx::station {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

struct Folder {
  fs::path root = fs::temp_directory_path() / ("station-child-" + std::to_string(::getpid()));
  Folder() { fs::create_directories(root); }
  ~Folder() { fs::remove_all(root); }
  std::string log() const { return (root / "job.log").string(); }
};

std::string contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Everything the pipe carries until its end of file (waits at most `limit`).
std::string read_to_end(int fd, milliseconds limit = milliseconds(5000)) {
  std::string all;
  char buffer[256];
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return all;
    if (got > 0) all.append(buffer, static_cast<std::size_t>(got));
  }
  return all + "<no end of file>";
}

int wait_status(pid_t pid) {
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  return status;
}

Child spawn_shell(const std::string& script, const std::string& log) {
  Child child;
  std::string why;
  EXPECT_TRUE(spawn_job("/bin/sh", {"-c", script}, log, child, why)) << why;
  return child;
}

TEST(StationChild, EventsReachThePipeNamedInVexalEvents) {
  Folder f;
  Child child = spawn_shell(R"(echo '{"event":"end"}' >&"$VEXAL_EVENTS"; echo out; echo err >&2)", f.log());
  EXPECT_EQ(read_to_end(child.events_fd), "{\"event\":\"end\"}\n");
  EXPECT_EQ(WEXITSTATUS(wait_status(child.pid)), 0);
  ::close(child.events_fd);
  EXPECT_EQ(contents(f.log()), "out\nerr\n");  // the console and the diagnostics, in their order
}

TEST(StationChild, AFreshProcessInItsOwnGroupWithNothingToRead) {
  Folder f;
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  ASSERT_EQ(::sigprocmask(SIG_BLOCK, &blocked, &previous), 0);  // as the station has it
  Child child =
      spawn_shell("echo $$ $(cut -d' ' -f5 /proc/$$/stat); grep SigBlk /proc/self/status; cat; echo read-end", f.log());
  EXPECT_EQ(read_to_end(child.events_fd), "");
  wait_status(child.pid);
  ::close(child.events_fd);
  ASSERT_EQ(::sigprocmask(SIG_SETMASK, &previous, nullptr), 0);
  std::istringstream log(contents(f.log()));
  std::string pid, group, blocked_line, last;
  log >> pid >> group;
  EXPECT_EQ(pid, group);  // its own process group: a terminal's Ctrl-C doesn't reach it
  std::getline(log >> std::ws, blocked_line);
  EXPECT_EQ(blocked_line, "SigBlk:\t0000000000000000");
  std::getline(log, last);
  EXPECT_EQ(last, "read-end");  // standard input at its end at once
}

TEST(StationChild, OneJobsPipeDoesntLeakIntoAnother) {
  Folder f;
  Child quick = spawn_shell("exit 3", f.log());
  Child slow = spawn_shell("sleep 3", (f.root / "slow.log").string());
  auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(read_to_end(quick.events_fd), "");
  EXPECT_LT(std::chrono::steady_clock::now() - begun, milliseconds(2000));  // not held open by the slow job
  EXPECT_EQ(WEXITSTATUS(wait_status(quick.pid)), 3);
  ::kill(slow.pid, SIGKILL);
  EXPECT_TRUE(WIFSIGNALED(wait_status(slow.pid)));
  ::close(quick.events_fd);
  ::close(slow.events_fd);
}

TEST(StationChild, EventsVariableOfTheCallerIsReplaced) {
  Folder f;
  ::setenv("VEXAL_EVENTS", "/tmp/not-this-one", 1);
  Child child = spawn_shell("env | grep -c '^VEXAL_EVENTS=[0-9]*$'", f.log());
  ::unsetenv("VEXAL_EVENTS");
  read_to_end(child.events_fd);
  wait_status(child.pid);
  ::close(child.events_fd);
  EXPECT_EQ(contents(f.log()), "1\n");
}

TEST(StationChild, WhatCantBeStarted) {
  Folder f;
  Child child;
  std::string why;
  EXPECT_FALSE(spawn_job((f.root / "no-vexal").string(), {}, f.log(), child, why));
  EXPECT_NE(why.find("can't run"), std::string::npos) << why;
  EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;
  EXPECT_FALSE(spawn_job("/bin/true", {}, (f.root / "missing" / "x.log").string(), child, why));
  EXPECT_NE(why.find("can't write the log"), std::string::npos) << why;
}

// A log planted as a link or a FIFO is never written through, nor waited on.
TEST(StationChild, LogsThatAreNoRegularFiles) {
  Folder f;
  const std::filesystem::path outside = f.root / "outside";
  { std::ofstream(outside) << "keep\n"; }
  std::filesystem::create_symlink(outside, f.root / "link.log");
  ASSERT_EQ(::mkfifo((f.root / "fifo.log").c_str(), 0600), 0);
  const struct {
    const char* name;
    const char* why;
  } cases[] = {{"link.log", "a symbolic link (not followed)"}, {"fifo.log", "No such device or address"}};
  for (const auto& c : cases) {
    Child child;
    std::string why;
    EXPECT_FALSE(spawn_job("/bin/true", {}, (f.root / c.name).string(), child, why)) << c.name;
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
  EXPECT_EQ(contents(outside.string()), "keep\n");
}

TEST(StationChild, CapturedRun) {
  Captured result;
  std::string why;
  ASSERT_TRUE(run_captured("/bin/sh", {"-c", "printf 'a\\tb\\n'; exit 4"}, milliseconds(5000), {}, result, why)) << why;
  EXPECT_EQ(result.output, "a\tb\n");
  EXPECT_EQ(WEXITSTATUS(result.wait_status), 4);
}

TEST(StationChild, ACapturedRunThatDoesntEndIsKilled) {
  Captured result;
  std::string why;
  auto begun = std::chrono::steady_clock::now();
  EXPECT_FALSE(run_captured("/bin/sleep", {"5"}, milliseconds(200), {}, result, why));
  EXPECT_LT(std::chrono::steady_clock::now() - begun, milliseconds(3000));
  EXPECT_NE(why.find("did not end within 200 ms"), std::string::npos) << why;
  EXPECT_TRUE(WIFSIGNALED(result.wait_status));
}

// A signal while the ports are listed: the station handles it at once, and may stop the listing.
TEST(StationChild, ACapturedRunStoppedByWhatItWaitsOn) {
  int wake[2];
  ASSERT_EQ(::pipe(wake), 0);
  ASSERT_EQ(::write(wake[1], "x", 1), 1);
  int handled = 0;
  Captured result;
  std::string why;
  auto begun = std::chrono::steady_clock::now();
  EXPECT_FALSE(run_captured("/bin/sleep", {"5"}, milliseconds(5000),
                            {wake[0],
                             [&] {
                               ++handled;
                               return false;
                             }},
                            result, why));
  EXPECT_LT(std::chrono::steady_clock::now() - begun, milliseconds(3000));
  EXPECT_EQ(handled, 1);
  EXPECT_NE(why.find("was stopped"), std::string::npos) << why;
  ::close(wake[0]);
  ::close(wake[1]);
}

TEST(StationChild, ACapturedRunOfNoProgram) {
  Captured result;
  std::string why;
  EXPECT_FALSE(run_captured("/nonexistent/vexal", {"--list-ports"}, milliseconds(1000), {}, result, why));
  EXPECT_NE(why.find("can't run /nonexistent/vexal"), std::string::npos) << why;
}

}  // namespace
}  // namespace vx::station
