// vq3140-sim: the VQ-3140 board on a pseudo-terminal or a serial port.
//
// The program is the thin shell around Session: it opens the line, reads what comes, hands it to the
// session with a time stamp of the monotonic clock, and writes what the transmitter says is due. It sleeps
// in ppoll until input comes, the next byte is due or a stop signal arrives; SIGINT, SIGTERM and SIGHUP are
// blocked except inside ppoll, so a stop is seen at one place and the dump and the link removal always run.
// Read errors on the line (EIO: nobody holds the loader's end) pause input briefly rather than spin.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/line_posix.h"
#include "board/options.h"
#include "board/session.h"
#include "protocol/text.h"
#include "vexal_version.h"

namespace vx::board {
namespace {

constexpr Micros kInputPause{20000};
constexpr std::size_t kReadChunk = 4096;
constexpr int kSetupFailed = 1;
constexpr int kDumpFailed = 2;

volatile sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int sig) { g_stop_signal = sig; }

// Blocks the stop signals and returns the mask that lets them in, for ppoll.
sigset_t install_stop_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sigset_t stops, previous;
  sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(sig, &sa, nullptr);
    sigaddset(&stops, sig);
  }
  signal(SIGPIPE, SIG_IGN);
  sigprocmask(SIG_BLOCK, &stops, &previous);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&previous, sig);
  return previous;
}

class LogFile {
 public:
  bool open(const std::string& path, std::string& why) {
    if (path.empty()) return true;
    if (path == "-") {
      file_ = stderr;
      return true;
    }
    file_ = std::fopen(path.c_str(), "w");
    owned_ = file_ != nullptr;
    if (!file_) why = "can't create the log " + path + ": " + std::strerror(errno);
    return file_ != nullptr;
  }
  ~LogFile() {
    if (owned_) std::fclose(file_);
  }
  Log log() {
    if (!file_) return Log();
    std::FILE* f = file_;
    return Log([f](const std::string& line) {
      std::fputs(line.c_str(), f);
      std::fputc('\n', f);
      std::fflush(f);  // a test or a user reads the log while the board runs
    });
  }

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

class Server {
 public:
  Server(LineEnd& line, Session& session) : line_(line), session_(session), start_(Clock::now()) {}

  void run(const sigset_t& let_signals_in) {
    while (!g_stop_signal) {
      pollfd pfd{line_.fd(), POLLIN, 0};
      bool listening = now() >= input_paused_until_;
      std::optional<timespec> wait = wait_time(listening);
      int r = ppoll(&pfd, listening ? 1 : 0, wait ? &*wait : nullptr, &let_signals_in);
      if (r < 0 && errno != EINTR) {
        session_.log().note(now(), std::string("ppoll failed: ") + std::strerror(errno));
        input_paused_until_ = now() + kInputPause;
      }
      if (r > 0 && pfd.revents) read_input();
      send_due();
    }
    session_.log().note(now(), "stopped by signal " + std::to_string(g_stop_signal));
  }

 private:
  using Clock = std::chrono::steady_clock;

  Micros now() const { return std::chrono::duration_cast<Micros>(Clock::now() - start_); }

  std::optional<timespec> wait_time(bool listening) const {
    std::optional<Micros> until = session_.transmitter().next_due();
    if (!listening && (!until || input_paused_until_ < *until)) until = input_paused_until_;
    if (!until) return std::nullopt;
    Micros left = std::max(Micros{0}, *until - now());
    return timespec{static_cast<time_t>(left.count() / 1000000), static_cast<long>(left.count() % 1000000) * 1000};
  }

  void read_input() {
    std::uint8_t buf[kReadChunk];
    for (;;) {
      ssize_t n = read(line_.fd(), buf, sizeof buf);
      if (n > 0) {
        session_.receive(now(), buf, static_cast<std::size_t>(n));
        hung_up_ = false;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      // EOF or EIO: the other end is gone for now. Listen again a little later.
      if (!hung_up_) session_.log().note(now(), n == 0 ? "line closed" : std::string("line: ") + std::strerror(errno));
      hung_up_ = true;
      input_paused_until_ = now() + kInputPause;
      return;
    }
  }

  void send_due() {
    for (Write& w : session_.transmitter().take_due(now())) {
      if (w.started) session_.log().bytes(now(), w.started->dir, w.started->bytes, w.started->note);
      write_all(w.bytes);
    }
  }

  // A line never waits for its listener: what the other end's queue can't take is lost, as on a wire.
  void write_all(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(line_.fd(), bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        session_.log().note(now(), std::to_string(bytes.size() - done) +
                                       " bytes lost: " + (n < 0 ? std::strerror(errno) : "nothing written"));
        return;
      }
    }
  }

  LineEnd& line_;
  Session& session_;
  Clock::time_point start_;
  Micros input_paused_until_{0};
  bool hung_up_ = false;
};

LineModel line_model(const Options& o) {
  LineModel m;
  m.baud = o.baud;
  m.bits_per_byte = o.parity == Parity::None ? kBitsPerByte : kBitsPerByteWithParity;
  m.wire_paced = !o.device.empty();
  m.think = o.think;
  return m;
}

bool open_line(const Options& o, LineEnd& line, std::string& why) {
  if (o.device.empty()) return line.open_pseudo_terminal(o.baud, why);
  return line.open_serial_device(o.device, o.baud ? o.baud : kDefaultBaud, o.parity, why);
}

int fail(const std::string& why) {
  std::fprintf(stderr, "vq3140-sim: %s\n", why.c_str());
  return kSetupFailed;
}

// The statistics on standard error, then the memory dump when one was asked for; the process status.
int report_and_dump(const Options& o, const Board& board, const Session& session) {
  const SessionCounts& c = session.counts();
  std::fprintf(stderr, "vq3140-sim: %llu telegrams, %llu answered, %llu bytes rejected\n",
               static_cast<unsigned long long>(c.telegrams), static_cast<unsigned long long>(c.answered),
               static_cast<unsigned long long>(c.rejected));
  if (!o.dump) return 0;
  std::string why;
  if (dump_image(board.memory(), o.dump->file, o.dump->range, why)) return 0;
  std::fprintf(stderr, "vq3140-sim: dump failed: %s\n", why.c_str());
  return kDumpFailed;
}

int run(const Options& o) {
  std::string why;
  Board board(o.board);
  for (const LoadSpec& load : o.loads)
    if (!load_image(board.memory(), load.file, load.address, why)) return fail(why);
  LogFile log_file;
  if (!log_file.open(o.log, why)) return fail(why);
  sigset_t let_signals_in = install_stop_signals();
  LineEnd line;
  if (!open_line(o, line, why)) return fail(why);
  if (!o.link.empty() && !make_link(o.link, line.device(), why)) return fail(why);

  Session session(board, FaultPlan(o.faults, o.seed), line_model(o), log_file.log());
  // An identity that is not printable text is left out of the note, as the log leaves out such texts.
  const std::optional<std::string> identity = quoted_text(board.identity());
  session.log().note(Micros{0}, "board " + (identity ? *identity + " " : "") + "on " + line.device() +
                                    (o.link.empty() ? "" : " (link " + o.link + ")") + ", fault seed " +
                                    std::to_string(o.seed));
  std::printf("%s\n", line.device().c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "vq3140-sim: %s on %s%s; stop with Ctrl-C\n", board.identity().c_str(), line.device().c_str(),
               o.link.empty() ? "" : (", link " + o.link).c_str());

  Server(line, session).run(let_signals_in);
  int code = report_and_dump(o, board, session);
  if (!o.link.empty()) remove_link(o.link, line.device());  // last: a vanished link means the dump is done
  return code;
}

}  // namespace
}  // namespace vx::board

int main(int argc, char** argv) {
  using namespace vx::board;
  Options o;
  std::string why;
  if (!parse_options(std::vector<std::string>(argv + 1, argv + argc), o, why)) {
    std::fprintf(stderr, "vq3140-sim: %s\n", why.c_str());
    return kSetupFailed;
  }
  if (o.help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (o.version) {
    std::printf("vq3140-sim %s (ZARVEN v1.28 board simulator)\n", vx::kVexalVersion);
    return 0;
  }
  return run(o);
}
