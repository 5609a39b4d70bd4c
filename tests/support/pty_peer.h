// A pseudo-terminal and a small peer on its master side, for tests that run the real vexal against a
// line of their own making (a board that answers, stays silent, echoes, or left an answer queued).
//
// Pty opens the pair and keeps its own descriptor of the slave side open for the whole test, so what
// the master writes before vexal opens the slave waits in the slave's input queue, as bytes wait in a
// UART nobody holds, and the exclusive flag vexal sets can be read back afterwards. Peer reads request
// frames off the master on a thread of its own and writes back whatever `reply` makes of each.
// Header-only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/frame.h"

namespace vx::testing {

using Bytes = std::vector<std::uint8_t>;
using PeerClock = std::chrono::steady_clock;

struct Pty {
  int master = -1, slave = -1;
  std::string path;
  Pty() {
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    path = name;
  }
  ~Pty() {
    close(master);
    close(slave);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Bytes for the slave side, written before anyone answers anything.
  void preload(const Bytes& bytes) const {
    if (write(master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("preload");
  }
  // Whether the slave's exclusive flag (TIOCEXCL) is set.
  bool exclusive() const {
    int on = 0;
    if (ioctl(slave, TIOCGEXCL, &on) != 0) throw std::runtime_error("TIOCGEXCL");
    return on != 0;
  }
};

// The text of a request frame (user data after the two tag bytes, up to the checksum).
inline std::string request_text(const Bytes& frame) {
  if (frame.size() < ft12::kTextOffset + 2) return {};
  return std::string(frame.begin() + ft12::kTextOffset, frame.end() - 2);
}

class Peer {
 public:
  using Reply = std::function<Bytes(const Bytes& request)>;

  Peer(Pty& pty, Reply reply) : pty_(pty), reply_(std::move(reply)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~Peer() {
    stop_ = true;
    thread_.join();
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  std::vector<Bytes> requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }
  std::vector<PeerClock::time_point> request_times() const {
    std::lock_guard<std::mutex> hold(lock_);
    return times_;
  }
  std::size_t count() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_.size();
  }
  // Waits until `n` requests have come (false when `limit` passed first).
  bool wait_for(std::size_t n, std::chrono::milliseconds limit) const {
    const auto deadline = PeerClock::now() + limit;
    while (count() < n) {
      if (PeerClock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  void serve() {
    ft12::Receiver rx;
    while (!stop_) {
      pollfd p{pty_.master, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      std::uint8_t buf[512];
      const ssize_t n = read(pty_.master, buf, sizeof buf);
      if (n <= 0) continue;
      for (auto& ev : rx.feed(buf, static_cast<std::size_t>(n))) {
        if (ev.kind != ft12::Receiver::Event::Kind::Frame) continue;
        {
          std::lock_guard<std::mutex> hold(lock_);
          times_.push_back(PeerClock::now());
          requests_.push_back(ev.bytes);
        }
        const Bytes a = reply_(ev.bytes);
        if (!a.empty() && write(pty_.master, a.data(), a.size()) != static_cast<ssize_t>(a.size())) return;
      }
    }
  }

  Pty& pty_;
  Reply reply_;
  mutable std::mutex lock_;
  std::vector<Bytes> requests_;
  std::vector<PeerClock::time_point> times_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vx::testing
