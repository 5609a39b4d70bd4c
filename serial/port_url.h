// Network ports named where a device goes: rfc2217://HOST:PORT (telnet with the COM-PORT-OPTION, the
// line settings sent to the exporting host) and tcp://HOST:PORT (a raw byte stream: the exporting host
// keeps its own line settings).
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets ("rfc2217://[::1]:3001"); PORT is a
// decimal TCP port from 1 to 65535. Nothing may follow the port (no path, no options). A text that
// begins with one of the two schemes is a URL and must be a good one: anything else is a device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

struct PortUrl {
  enum class Scheme { Rfc2217, Tcp };
  Scheme scheme = Scheme::Rfc2217;
  std::string host;  // without the brackets of an IPv6 address
  std::uint16_t port = 0;
  std::string text;  // the URL as given, for messages
};

// Whether `device` begins with "rfc2217://" or "tcp://".
bool is_port_url(std::string_view device);

// The URL `device` names; nullopt with `why` (what is wrong, for a one-line refusal) when it is
// malformed.
std::optional<PortUrl> parse_port_url(std::string_view device, std::string& why);

}  // namespace vx
