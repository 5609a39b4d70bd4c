#include "serial/port_url.h"

#include <charconv>

namespace vx {
namespace {

constexpr std::string_view kRfc2217 = "rfc2217://";
constexpr std::string_view kTcp = "tcp://";
constexpr unsigned kMaxTcpPort = 65535;
// What a URL would put after or around the host (a path, a user, a query), and blanks.
constexpr const char* kNotInHost = "/@?# \t";

// Splits "HOST:PORT" or "[HOST]:PORT"; false when there is no host or no ':' after it.
bool split_host(std::string_view rest, std::string& host, std::string_view& port, std::string& why) {
  std::size_t colon;
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      why = "an IPv6 address needs its closing ']'";
      return false;
    }
    host = std::string(rest.substr(1, close - 1));
    if (close + 1 >= rest.size() || rest[close + 1] != ':') {
      why = "a port number must follow the host (HOST:PORT)";
      return false;
    }
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
      why = "a port number must follow the host (HOST:PORT)";
      return false;
    }
    host = std::string(rest.substr(0, colon));
    if (host.find(':') != std::string::npos) {
      why = "an IPv6 address goes in brackets ([ADDRESS]:PORT)";
      return false;
    }
  }
  if (host.empty()) {
    why = "the host is missing (HOST:PORT)";
    return false;
  }
  if (host.find_first_of(kNotInHost) != std::string::npos) {
    why = "the host '" + host + "' holds a character no host name has";
    return false;
  }
  port = rest.substr(colon + 1);
  return true;
}

bool parse_tcp_port(std::string_view text, std::uint16_t& port, std::string& why) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0 || value > kMaxTcpPort) {
    why = "the port must be a number from 1 to 65535";
    return false;
  }
  port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

bool is_port_url(std::string_view device) { return device.starts_with(kRfc2217) || device.starts_with(kTcp); }

std::optional<PortUrl> parse_port_url(std::string_view device, std::string& why) {
  PortUrl url;
  url.text = std::string(device);
  std::string_view rest;
  if (device.starts_with(kRfc2217)) {
    rest = device.substr(kRfc2217.size());
  } else if (device.starts_with(kTcp)) {
    url.scheme = PortUrl::Scheme::Tcp;
    rest = device.substr(kTcp.size());
  } else {
    why = "a network port begins with rfc2217:// or tcp://";
    return std::nullopt;
  }
  std::string_view port;
  if (!split_host(rest, url.host, port, why) || !parse_tcp_port(port, url.port, why)) return std::nullopt;
  return url;
}

}  // namespace vx
