#include "serial/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

#include "console/clock.h"

namespace vx {
namespace {

#ifdef _WIN32
using Native = SOCKET;
constexpr Native kNoSocket = INVALID_SOCKET;
int last_error() { return WSAGetLastError(); }
bool would_block(int err) { return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS || err == WSAEINTR; }
int poll_native(pollfd* p, int timeout_ms) { return WSAPoll(p, 1, timeout_ms); }
void close_native(Native s) { closesocket(s); }
bool set_nonblocking(Native s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}
constexpr int kSendFlags = 0;
std::string error_text(int err) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 static_cast<DWORD>(err), 0, text, sizeof text, nullptr);
  std::string why(text, n);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.')) why.pop_back();
  return why.empty() ? "network error " + std::to_string(err) : why;
}
#else
using Native = int;
constexpr Native kNoSocket = -1;
int last_error() { return errno; }
bool would_block(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS || err == EINTR; }
int poll_native(pollfd* p, int timeout_ms) { return ::poll(p, 1, timeout_ms); }
void close_native(Native s) { ::close(s); }
bool set_nonblocking(Native s) {
  const int flags = ::fcntl(s, F_GETFL);
  return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer is an error to report, not a SIGPIPE
std::string error_text(int err) { return std::strerror(err); }
#endif

// Keep-alive: the first probe after this many seconds of silence, then one each interval, and the
// connection given up after kKeepAliveProbes unanswered ones: a dead peer is noticed within 11 s.
constexpr int kKeepAliveIdleSeconds = 5;
constexpr int kKeepAliveIntervalSeconds = 2;
constexpr int kKeepAliveProbes = 3;
constexpr long kMicrosPerMilli = 1000;

// Whole milliseconds for poll, rounded up so a short wait is no busy loop.
int poll_millis(Micros wait) {
  if (wait.count() <= 0) return 0;
  return static_cast<int>((wait.count() + kMicrosPerMilli - 1) / kMicrosPerMilli);
}

bool wait_ready(Native s, short events, Micros wait) {
  pollfd p{};
  p.fd = s;
  p.events = events;
  return poll_native(&p, poll_millis(wait)) > 0;
}

template <typename Value>
void set_option(Native s, int level, int name, Value value) {
  // Best effort: a system without the option keeps its default.
  static_cast<void>(::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value));
}

void tune(Native s) {
  set_option(s, IPPROTO_TCP, TCP_NODELAY, 1);
  set_option(s, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef _WIN32
  tcp_keepalive alive{1, kKeepAliveIdleSeconds * 1000, kKeepAliveIntervalSeconds * 1000};
  DWORD returned = 0;
  static_cast<void>(WSAIoctl(s, SIO_KEEPALIVE_VALS, &alive, sizeof alive, nullptr, 0, &returned, nullptr, nullptr));
#else
  set_option(s, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds);
  set_option(s, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
  set_option(s, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
#endif
}

// A server whose socket holds back a small segment until the one before is acknowledged (Nagle's
// algorithm; ser2net's unless `nodelay` is given) would otherwise wait for our delayed acknowledgement,
// some 40 ms, in the middle of an answer. Linux acknowledges at once when asked, after every receive
// (the setting does not stay); elsewhere the server's nodelay does it.
void acknowledge_at_once(Native s) {
#ifdef TCP_QUICKACK
  set_option(s, IPPROTO_TCP, TCP_QUICKACK, 1);
#else
  static_cast<void>(s);
#endif
}

// The error a finished non-blocking connect left on the socket (0: connected).
int connect_error(Native s) {
  int err = 0;
  socklen_t size = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &size) != 0) return last_error();
  return err;
}

// One address: a connected socket, or kNoSocket with `why`.
Native try_address(const addrinfo& a, Micros deadline, std::string& why) {
  const Native s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
  if (s == kNoSocket || !set_nonblocking(s)) {
    why = error_text(last_error());
    if (s != kNoSocket) close_native(s);
    return kNoSocket;
  }
  int err = ::connect(s, a.ai_addr, static_cast<socklen_t>(a.ai_addrlen)) == 0 ? 0 : last_error();
  if (err != 0 && would_block(err)) {
    const Micros left = deadline - steady_clock().now();
    err = wait_ready(s, POLLOUT, left) ? connect_error(s) : -1;
  }
  if (err == 0) return s;
  why = err < 0 ? "no answer within the connect time-out" : error_text(err);
  close_native(s);
  return kNoSocket;
}

// The Winsock library is started for each connection and released with it (it counts its users).
struct NetworkLibrary {
#ifdef _WIN32
  bool ready = false;
  NetworkLibrary() {
    WSADATA data;
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~NetworkLibrary() {
    if (ready) WSACleanup();
  }
#else
  bool ready = true;
  NetworkLibrary() = default;
#endif
  NetworkLibrary(const NetworkLibrary&) = delete;
  NetworkLibrary& operator=(const NetworkLibrary&) = delete;
};

}  // namespace

struct Socket::Handle {
  NetworkLibrary library;
  Native s = kNoSocket;
  Handle() = default;
  ~Handle() {
    if (s != kNoSocket) close_native(s);
  }
};

Socket::Socket(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
Socket::~Socket() = default;

Socket::Io Socket::receive(std::uint8_t* buf, std::size_t n, Micros wait, std::size_t& got, std::string& why) {
  got = 0;
  if (!wait_ready(handle_->s, POLLIN, wait)) return Io::TimedOut;
  const auto r = ::recv(handle_->s, reinterpret_cast<char*>(buf), static_cast<int>(n), 0);
  if (r > 0) {
    got = static_cast<std::size_t>(r);
    acknowledge_at_once(handle_->s);
    return Io::Done;
  }
  if (r == 0) return Io::Closed;
  const int err = last_error();
  if (would_block(err)) return Io::TimedOut;
  why = error_text(err);
  return Io::Failed;
}

Socket::Io Socket::send_all(const std::uint8_t* p, std::size_t n, Micros limit, std::string& why) {
  const Micros deadline = steady_clock().now() + limit;
  std::size_t done = 0;
  while (done < n) {
    const Micros left = deadline - steady_clock().now();
    if (left.count() <= 0) return Io::TimedOut;
    if (!wait_ready(handle_->s, POLLOUT, left)) continue;
    const auto put =
        ::send(handle_->s, reinterpret_cast<const char*>(p + done), static_cast<int>(n - done), kSendFlags);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    const int err = last_error();
    if (put < 0 && would_block(err)) continue;
    why = error_text(err);
    return Io::Failed;
  }
  return Io::Done;
}

std::unique_ptr<Socket> connect_tcp(const std::string& host, std::uint16_t port, Millis timeout, std::string& why) {
  auto handle = std::make_unique<Socket::Handle>();
  if (!handle->library.ready) {
    why = "the network library can't be started";
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int err = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); err != 0) {
    why = "unknown host " + host + ": " + gai_strerror(err);
    return nullptr;
  }
  const Micros deadline = steady_clock().now() + timeout;
  for (const addrinfo* a = found; a && handle->s == kNoSocket; a = a->ai_next)
    handle->s = try_address(*a, deadline, why);
  ::freeaddrinfo(found);
  if (handle->s == kNoSocket) return nullptr;
  tune(handle->s);
  return std::unique_ptr<Socket>(new Socket(std::move(handle)));
}

}  // namespace vx
