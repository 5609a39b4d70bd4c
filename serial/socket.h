// A TCP connection, one code for POSIX sockets and Winsock: the calls differ in name only (closesocket,
// WSAPoll, ioctlsocket, WSAGetLastError), so the differences stay inside socket.cpp.
//
// connect_tcp resolves the host (a name, an IPv4 or IPv6 address) and tries its addresses in turn, each
// without blocking, bounded by one time-out for them all. The connection it gives is non-blocking,
// with TCP_NODELAY (a telegram goes out at once, not held back to be merged with the next: every
// exchange is stop-and-wait) and keep-alive probes (a peer that is gone, its host switched off or the
// network cut, is noticed even while nothing is sent). A Socket closes its connection when it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/line.h"

namespace vx {

class Socket {
 public:
  enum class Io { Done, TimedOut, Closed, Failed };

  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Waits at most `wait` for bytes and reads what has come, up to n, into buf (`got`). Closed: the
  // peer ended the connection; Failed: the network did (`why` then says what it said).
  Io receive(std::uint8_t* buf, std::size_t n, Micros wait, std::size_t& got, std::string& why);
  // Sends all of p[0..n) within `limit`.
  Io send_all(const std::uint8_t* p, std::size_t n, Micros limit, std::string& why);

 private:
  friend std::unique_ptr<Socket> connect_tcp(const std::string&, std::uint16_t, Millis, std::string&);
  struct Handle;
  explicit Socket(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

// A connection to host:port, or null with `why` (what the resolver or the network said).
std::unique_ptr<Socket> connect_tcp(const std::string& host, std::uint16_t port, Millis timeout, std::string& why);

}  // namespace vx
