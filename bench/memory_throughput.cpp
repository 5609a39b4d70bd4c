// Memory transfer throughput through the board simulator on a paced line.
//
// Starts vq3140-sim behind a pseudo-terminal at 115200 baud, then times the vexal binary writing a
// random image with @binput, reading it back with @binget and dumping it with @hexget. For each command
// it prints the payload bytes per second and the ratio to the line's own limit: every request and every
// answer frame on the wire one after the other (stop-and-wait), 10 bits per byte, no gaps. A run of
// vexal that sends no telegram is timed too and taken off, so start-up and port set-up don't count.
//
//   memory_throughput [BIN_DIR [BYTES]]      BIN_DIR holds vexal and vq3140-sim; BYTES defaults to 8192
//
// Both read windows are measured: the default, which ends as soon as the answer frame is complete, and
// the full window (VEXAL_WINDOW=full) that waits for 15 ms of silence after every answer.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sim_process.h"
#include "protocol/frame.h"

extern char** environ;

namespace {

constexpr unsigned kBaud = 115200;
constexpr double kBitsPerByte = 10;  // start, 8 data, stop
constexpr long kDefaultBytes = 8192;
constexpr long kMaxBytes = 0xFFFFFF;
constexpr int kRawChunk = 64;
constexpr int kDumpChunk = 16;
constexpr int kWriteChunk = 64;
constexpr int kStartUpRuns = 5;
constexpr auto kLinkWait = std::chrono::seconds(10);

using Clock = std::chrono::steady_clock;

struct Process {
  pid_t pid = -1;
  bool started() const { return pid > 0; }
};

// Runs argv with `env_extra` added to the environment and its output sent to `log`.
Process spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env_extra, const std::string& log) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (const auto& e : env_extra) env.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  Process p;
  if (posix_spawn_file_actions_init(&actions) != 0) return p;
  bool ready =
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) == 0 &&
      posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO) == 0;
  if (ready && posix_spawn(&p.pid, args[0], &actions, nullptr, args.data(), env.data()) != 0) p.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return p;
}

// The process's exit status, or -1 when it did not exit normally.
int wait_exit(const Process& p) {
  int status = 0;
  if (waitpid(p.pid, &status, 0) != p.pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string random_bytes(long n) {
  std::mt19937 gen(0x3140);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s;
  for (long i = 0; i < n; ++i) s.push_back(static_cast<char>(byte(gen)));
  return s;
}

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary);
  f << content;
  return static_cast<bool>(f.flush());
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// --- the line's limit ---

double frame_seconds(std::size_t frame_bytes) { return frame_bytes * kBitsPerByte / kBaud; }

// Stop-and-wait over `bytes` in chunks: each chunk's request and answer frames, back to back.
double read_line_seconds(long bytes, int chunk) {
  double t = 0;
  for (long done = 0; done < bytes; done += chunk) {
    long n = std::min<long>(chunk, bytes - done);
    t += frame_seconds(vx::ft12::text_request("R000000,40\n").size());
    t += frame_seconds(vx::ft12::text_answer("=" + std::string(2 * n, '0')).size());
  }
  return t;
}

double write_line_seconds(long bytes) {
  double t = 0;
  for (long done = 0; done < bytes; done += kWriteChunk) {
    long n = std::min<long>(kWriteChunk, bytes - done);
    t += frame_seconds(vx::ft12::text_request("W000000<" + std::string(2 * n, '0') + "\n").size());
    t += frame_seconds(vx::ft12::text_answer("*").size());
  }
  return t;
}

// --- one timed run of the loader ---

struct Bench {
  std::string bin;
  std::string dir;
  std::string com1;
  std::string window;  // "VEXAL_WINDOW=full" for the full read window, else empty
};

// Seconds the loader took, or a negative value when its run failed.
double time_loader(const Bench& b, const std::string& command, const char* what) {
  std::string log = b.dir + "/" + what + ".log";
  std::vector<std::string> env{"VEXAL_COM1=" + b.com1};
  if (!b.window.empty()) env.push_back(b.window);
  auto start = Clock::now();
  Process p = spawn({b.bin + "/vexal", "b115200", command}, env, log);
  int code = p.started() ? wait_exit(p) : -1;
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (code != 0) {
    std::fprintf(stderr, "%s: vexal ended with %d, see %s\n", what, code, log.c_str());
    return -1;
  }
  return seconds;
}

void print_row(const char* what, long bytes, double seconds, double line_seconds) {
  double rate = bytes / seconds;
  double limit = bytes / line_seconds;
  std::printf("%-8s %9ld %9.3f %10.0f %10.0f %7.2f\n", what, bytes, seconds, rate, limit, rate / limit);
}

std::string field(long v) {
  char text[16];
  std::snprintf(text, sizeof text, "%06lX", v);
  return text;
}

// The quickest of a few runs that send no telegram: the start-up cost on a machine that may be busy.
double start_up_seconds(const Bench& b) {
  double best = -1;
  for (int i = 0; i < kStartUpRuns; ++i) {
    double t = time_loader(b, "@binget000000,000000>e.bin", "baseline");
    if (t < 0) return -1;
    if (best < 0 || t < best) best = t;
  }
  return best;
}

// One table: the three commands over the same range, the read checked against the image written.
int run_table(const Bench& b, const std::string& image, const char* title) {
  const long bytes = static_cast<long>(image.size());
  const std::string range = "000000," + field(bytes);
  double base = start_up_seconds(b);
  double put = time_loader(b, "@binput000000<w.bin", "binput");
  double get = time_loader(b, "@binget" + range + ">r.bin", "binget");
  double hex = time_loader(b, "@hexget" + range + ">r.txt", "hexget");
  if (base < 0 || put < 0 || get < 0 || hex < 0) return 1;
  if (read_file(b.dir + "/r.bin") != image) {
    std::fprintf(stderr, "r.bin differs from w.bin\n");
    return 1;
  }
  std::printf("\n%s: %ld bytes at %u baud, start-up of %.3f s taken off\n", title, bytes, kBaud, base);
  std::printf("%-8s %9s %9s %10s %10s %7s\n", "command", "bytes", "seconds", "bytes/s", "line B/s", "ratio");
  print_row("@binput", bytes, put - base, write_line_seconds(bytes));
  print_row("@binget", bytes, get - base, read_line_seconds(bytes, kRawChunk));
  print_row("@hexget", bytes, hex - base, read_line_seconds(bytes, kDumpChunk));
  return 0;
}

int run_bench(Bench& b, long bytes) {
  const std::string image = random_bytes(bytes);
  if (!write_file(b.dir + "/w.bin", image)) {
    std::fprintf(stderr, "can't write %s/w.bin\n", b.dir.c_str());
    return 1;
  }
  if (chdir(b.dir.c_str()) != 0) return 1;
  std::printf("memory transfer through vq3140-sim; line B/s: request and answer frames back to back\n");
  b.window.clear();
  if (run_table(b, image, "read window ends with the answer frame (default)") != 0) return 1;
  // The full read window: every exchange waits 15 ms of silence after the answer, for slow boards.
  b.window = "VEXAL_WINDOW=full";
  return run_table(b, image, "full read window (VEXAL_WINDOW=full)");
}

}  // namespace

int main(int argc, char** argv) {
  Bench b;
  // Absolute, since the runs happen inside the scratch directory.
  std::error_code ec;
  b.bin = std::filesystem::absolute(
              argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path(argv[0]).parent_path(), ec)
              .string();
  if (ec) {
    std::fprintf(stderr, "can't resolve the binaries' directory: %s\n", ec.message().c_str());
    return 2;
  }
  long bytes = argc > 2 ? std::strtol(argv[2], nullptr, 10) : kDefaultBytes;
  if (bytes <= 0 || bytes > kMaxBytes) {
    std::fprintf(stderr, "BYTES must be 1 to %ld\n", kMaxBytes);
    return 2;
  }
  char tmpl[] = "/tmp/vexal-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    return 1;
  }
  b.dir = tmpl;
  b.com1 = b.dir + "/com1";
  vx::board::testing::SimProcess sim(b.bin, b.com1, {"--baud", std::to_string(kBaud)}, b.dir + "/sim.log");
  if (!sim.ready(kLinkWait)) {
    std::fprintf(stderr, "vq3140-sim did not come up, see %s/sim.log\n", b.dir.c_str());
    return 1;
  }
  int rc = run_bench(b, bytes);
  sim.stop();
  if (rc == 0) std::filesystem::remove_all(b.dir, ec);
  return rc;
}
