#include "board/line_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vx::board {

namespace {

struct Rate {
  unsigned baud;
  speed_t code;
};
constexpr std::array<Rate, 15> kRates{{
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {921600, B921600},
    {1000000, B1000000},
}};

bool speed_code(unsigned baud, speed_t& code) {
  for (const Rate& r : kRates) {
    if (r.baud == baud) {
      code = r.code;
      return true;
    }
  }
  return false;
}

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

bool set_nonblocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void apply_parity(termios& t, Parity parity) {
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
  if (parity == Parity::Odd) t.c_cflag |= PARENB | PARODD;
  if (parity == Parity::Even) t.c_cflag |= PARENB;
}

// Raw, 8 data bits, one stop bit, no flow control either way, the modem lines ignored.
bool set_line(int fd, speed_t speed, Parity parity, std::string& why) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    why = system_error("tcgetattr");
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  apply_parity(t, parity);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0 || tcsetattr(fd, TCSANOW, &t) != 0) {
    why = system_error("tcsetattr");
    return false;
  }
  return true;
}

}  // namespace

LineEnd::~LineEnd() {
  if (fd_ >= 0) close(fd_);
  if (slave_fd_ >= 0) close(slave_fd_);
}

bool LineEnd::open_pseudo_terminal(unsigned baud, std::string& why) {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd_ < 0) {
    why = system_error("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(fd_) != 0 || unlockpt(fd_) != 0 || ptsname_r(fd_, name, sizeof name) != 0) {
    why = system_error("pseudo-terminal set-up");
    return false;
  }
  device_ = name;
  slave_fd_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_fd_ < 0) {
    why = system_error("open " + device_);
    return false;
  }
  speed_t speed = B38400;
  speed_code(baud, speed);  // an odd rate is only paced, the slave keeps 38400
  if (!set_line(slave_fd_, speed, Parity::None, why)) return false;
  if (!set_nonblocking(fd_)) {
    why = system_error("fcntl");
    return false;
  }
  return true;
}

bool LineEnd::open_serial_device(const std::string& path, unsigned baud, Parity parity, std::string& why) {
  speed_t speed;
  if (!speed_code(baud, speed)) {
    why = std::to_string(baud) + " is not a rate the serial port knows";
    return false;
  }
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    why = system_error("open " + path);
    return false;
  }
  device_ = path;
  if (!set_line(fd_, speed, parity, why)) return false;
  if (tcflush(fd_, TCIOFLUSH) != 0) {
    why = system_error("tcflush");
    return false;
  }
  return true;
}

bool make_link(const std::string& path, const std::string& target, std::string& why) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      why = path + " exists and is not a symbolic link; not replaced";
      return false;
    }
    if (unlink(path.c_str()) != 0) {
      why = system_error("unlink " + path);
      return false;
    }
  }
  if (symlink(target.c_str(), path.c_str()) != 0) {
    why = system_error("symlink " + path);
    return false;
  }
  return true;
}

void remove_link(const std::string& path, const std::string& target) {
  char buf[4096];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n < 0) return;
  buf[n] = '\0';
  if (target == buf) unlink(path.c_str());
}

}  // namespace vx::board
