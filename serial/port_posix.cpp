// The serial port on Linux and other POSIX systems: termios, raw, 8 data bits, one stop bit.
//
// COM1 and COM2 are the devices named by VEXAL_COM1 and VEXAL_COM2 (default /dev/ttyS0, /dev/ttyS1),
// unless the command line named COM1's (--port).
// The port is opened without sharing, so no other program's bytes mix into a telegram: flock() keeps out
// other programs that lock (another vexal, most terminal programs), TIOCEXCL keeps out any further
// open() of the tty by non-root users. Both are undone when the port closes, and by release_port_now
// for a process that ends without unwinding. The input queue is flushed once, when the settings are in
// force (bytes that came while no one held the port belong to no request of this run), and never again:
// a late answer stays queued for the next exchange.
// The line's settings as the port was found are put back when it closes (and by release_port_now): a
// terminal named as the port (--port /dev/tty) is left as the user had it, not raw.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "serial/port.h"

namespace vx {
namespace {

constexpr Micros kDrainPoll{200};

// The descriptor of the open port, for release_port_now (a signal handler may read it: lock-free).
// One port is open at a time; -1 when none.
std::atomic<int> g_open_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);
// The settings the open port had before ours, written before g_open_fd names the port and read only
// while it does.
termios g_found_settings{};

speed_t speed_for(unsigned baud) {
  switch (baud) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

std::string os_reason(int err) {
  std::string why = std::strerror(err);
  if (err == EACCES || err == EPERM)
    why += " (the user may need to be in the dialout group: sudo usermod -aG dialout $USER, then log in again)";
  return why;
}

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  std::size_t read_some(std::uint8_t* buf, std::size_t n, Micros wait) override {
    pollfd p{fd_, POLLIN, 0};
    const timespec ts{static_cast<time_t>(wait.count() / 1000000), static_cast<long>(wait.count() % 1000000) * 1000};
    const int ready = ::ppoll(&p, 1, &ts, nullptr);
    if (ready <= 0) return 0;  // time-out, or a signal: the window is measured again by the caller
    const ssize_t got = ::read(fd_, buf, n);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    // The device is gone or hung up (an unplugged adapter, a closed peer): nothing will come in this
    // window, so wait it out instead of spinning on an endless stream of hang-up events.
    std::this_thread::sleep_for(wait);
    return 0;
  }

 private:
  int fd_;
};

class PosixPort : public Port {
 public:
  PosixPort(int fd, bool exclusive, unsigned baud, const termios& found)
      : fd_(fd), exclusive_(exclusive), idle_gap_(idle_interval(baud)), source_(fd), reader_(source_, steady_clock()) {
    g_found_settings = found;
    g_open_fd.store(fd);
  }
  ~PosixPort() override {
    g_open_fd.store(-1);
    // Best effort: a device that is gone takes its settings with it.
    static_cast<void>(::tcsetattr(fd_, TCSANOW, &g_found_settings));
    // The exclusive flag outlives this descriptor while the far end keeps the tty open (a simulator's
    // pseudo-terminal): clear it, or the next run of a non-root user would find the port busy.
    if (exclusive_ && ::ioctl(fd_, TIOCNXCL) != 0) exclusive_ = false;  // closed next either way
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

  bool write_frame(const std::uint8_t* data, std::size_t n, Millis limit) override {
    reader_.settle(idle_gap_, data, n);
    const Micros deadline = steady_clock().now() + limit;
    std::size_t done = 0;
    while (done < n) {
      const Micros left = deadline - steady_clock().now();
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, static_cast<int>(left.count() / 1000) + 1) <= 0) continue;
      const ssize_t put = ::write(fd_, data + done, n - done);
      if (put > 0) {
        done += static_cast<std::size_t>(put);
      } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      }
    }
    return drain(deadline);
  }

  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) override {
    return reader_.read(buf, cap, window);
  }
  std::size_t unsolicited_bytes() const override { return reader_.unsolicited_bytes(); }
  void listen_after_last_answer() override { reader_.listen_after_last_answer(idle_gap_); }

 private:
  // The read window starts when the request has left the port, as after FlushFileBuffers. tcdrain()
  // would wait without a bound if the far end of a pseudo-terminal stopped reading, so watch the output
  // queue until it is empty or the write's time is up.
  bool drain(Micros deadline) const {
    for (;;) {
      int queued = 0;
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return ::tcdrain(fd_) == 0;
      if (queued == 0) return true;
      if (steady_clock().now() >= deadline) return false;
      std::this_thread::sleep_for(kDrainPoll);
    }
  }

  int fd_;
  bool exclusive_;
  Micros idle_gap_;
  FdSource source_;
  AnswerReader reader_;
};

// `found` gets the settings the line had, to be put back when the port closes.
bool configure(int fd, const LineSettings& s, termios& found, std::string& why) {
  if (::tcgetattr(fd, &found) != 0) {
    why = "not a serial port: " + os_reason(errno);
    return false;
  }
  termios t = found;
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  if (s.parity != Parity::None) t.c_cflag |= PARENB;
  if (s.parity == Parity::Odd) t.c_cflag |= PARODD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t speed = speed_for(s.baud);
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) {
    why = "can't set the line: " + os_reason(errno);
    return false;
  }
  // DTR and RTS held off: the board must not need them. A pseudo-terminal has no modem lines, which
  // is no failure.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
    why = "can't drop DTR and RTS: " + os_reason(errno);
    return false;
  }
  return true;
}

// USB adapters hold received bytes up to 16 ms before passing them on, which would eat the time an
// early end saves; ask the driver to pass them at once. Ports without the setting (a pseudo-terminal,
// most adapters' drivers answer ENOTTY or EINVAL) are fine as they are.
void set_low_latency(int fd) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
  if (ss.flags & ASYNC_LOW_LATENCY) return;
  ss.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) return;  // refused: the default latency stays
}

}  // namespace

std::string platform_port_device(const std::string& com_name) {
  if (std::string named = named_port_device(com_name); !named.empty()) return named;
  if (std::string from_environment = environment_port_device(com_name); !from_environment.empty())
    return from_environment;
  return com_name == "COM2" ? "/dev/ttyS1" : "/dev/ttyS0";
}

OpenResult open_platform_port(const std::string& com_name, const LineSettings& settings) {
  OpenResult r;
  const std::string dev = platform_port_device(com_name);
  const int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    r.why = "can't open " + com_name + " (" + dev + "): " + os_reason(errno);
    return r;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    r.why = com_name + " (" + dev + ") is in use by another program" +
            (err == EWOULDBLOCK ? std::string() : ": " + os_reason(err));
    return r;
  }
  std::string why;
  termios found{};
  if (!configure(fd, settings, found, why)) {
    static_cast<void>(::tcsetattr(fd, TCSANOW, &found));  // where they were changed before the failure
    ::flock(fd, LOCK_UN);
    ::close(fd);
    r.why = com_name + " (" + dev + "): " + why;
    return r;
  }
  // What came while no one held the port is no answer to this run (the settings are in force first,
  // so nothing received under the old ones stays behind).
  if (::tcflush(fd, TCIFLUSH) != 0) {
    r.why = com_name + " (" + dev + "): can't empty the input queue: " + os_reason(errno);
    static_cast<void>(::tcsetattr(fd, TCSANOW, &found));
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return r;
  }
  // Best effort: where the driver refuses TIOCEXCL, the flock above still keeps out other programs
  // that lock the port.
  const bool exclusive = ::ioctl(fd, TIOCEXCL) == 0;
  set_low_latency(fd);
  r.port = std::make_unique<PosixPort>(fd, exclusive, settings.baud, found);
  return r;
}

// Only calls that are safe in a signal handler; the results don't matter, the process is ending.
void release_port_now() noexcept {
  const int fd = g_open_fd.load();
  if (fd < 0) return;
  static_cast<void>(::tcsetattr(fd, TCSANOW, &g_found_settings));
  static_cast<void>(::ioctl(fd, TIOCNXCL));
  static_cast<void>(::flock(fd, LOCK_UN));
}

}  // namespace vx
