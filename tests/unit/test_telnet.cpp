// The telnet / COM-PORT-OPTION codec and the network port's URLs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/telnet.h"
#include "serial/port_url.h"

namespace vx {
namespace {

using telnet::Bytes;
using telnet::Decoder;
using telnet::Event;

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240, NOP = 241;
constexpr std::uint8_t COM = 44, BIN = 0, SGA = 3, ECHO = 1;

struct Decoded {
  Bytes data;
  std::vector<Event> events;
};

// Feeds `stream` in pieces cut at `cuts` (offsets into it).
Decoded decode(const Bytes& stream, const std::vector<std::size_t>& cuts = {}) {
  Decoder d;
  Decoded out;
  std::size_t from = 0;
  std::vector<std::size_t> ends = cuts;
  ends.push_back(stream.size());
  for (std::size_t end : ends) {
    d.feed(stream.data() + from, end - from, out.data, out.events);
    from = end;
  }
  return out;
}

TEST(TelnetEscape, EveryIacIsDoubledAndNothingElse) {
  struct Row {
    Bytes in, out;
  } rows[] = {
      {{}, {}},
      {{1, 2, 3}, {1, 2, 3}},
      {{IAC}, {IAC, IAC}},
      {{IAC, IAC}, {IAC, IAC, IAC, IAC}},
      {{0x68, IAC, 0x16}, {0x68, IAC, IAC, 0x16}},
      {{SE, SB, WILL}, {SE, SB, WILL}},
  };
  for (const Row& r : rows) {
    Bytes out;
    telnet::append_escaped(out, r.in.data(), r.in.size());
    EXPECT_EQ(out, r.out);
  }
}

TEST(TelnetDecoder, DataAndEventsComeApart) {
  struct Row {
    const char* what;
    Bytes stream;
    Bytes data;
    std::size_t events;
  } rows[] = {
      {"plain data", {0x68, 0x05, 0x16}, {0x68, 0x05, 0x16}, 0},
      {"doubled IAC is one data byte", {1, IAC, IAC, 2}, {1, IAC, 2}, 0},
      {"negotiation in the middle", {1, IAC, WILL, BIN, 2}, {1, 2}, 1},
      {"a command alone", {IAC, NOP, 7}, {7}, 1},
      {"subnegotiation with a doubled IAC", {9, IAC, SB, COM, 101, 0, IAC, IAC, 0, 0, IAC, SE, 8}, {9, 8}, 1},
      {"notification between answer bytes", {0x68, IAC, SB, COM, 106, 0x60, IAC, SE, 0x16}, {0x68, 0x16}, 1},
      {"unclosed subnegotiation ended by a command", {IAC, SB, COM, 107, 0, IAC, WILL, SGA, 5}, {5}, 2},
  };
  for (const Row& r : rows) {
    // Whole, and cut at every position: the same result.
    for (std::size_t cut = 0; cut <= r.stream.size(); ++cut) {
      const Decoded d = decode(r.stream, {cut});
      EXPECT_EQ(d.data, r.data) << r.what << ", cut at " << cut;
      EXPECT_EQ(d.events.size(), r.events) << r.what << ", cut at " << cut;
    }
  }
}

TEST(TelnetDecoder, EveryByteInItsOwnRead) {
  const Bytes stream{IAC, SB, COM, 101, 0, 1, 0xC2, 0, IAC, SE, IAC, IAC, IAC, DO, COM, 0x42};
  std::vector<std::size_t> cuts;
  for (std::size_t i = 1; i < stream.size(); ++i) cuts.push_back(i);
  const Decoded d = decode(stream, cuts);
  EXPECT_EQ(d.data, (Bytes{IAC, 0x42}));
  ASSERT_EQ(d.events.size(), 2u);
  const auto m = telnet::com_port_message(d.events[0]);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->command, 1);
  EXPECT_EQ(telnet::read_big_endian32(m->value), 115200u);
  EXPECT_EQ(d.events[1].kind, Event::Kind::Negotiation);
  EXPECT_EQ(d.events[1].verb, DO);
  EXPECT_EQ(d.events[1].option, COM);
}

TEST(TelnetComPort, CommandsAndMessages) {
  EXPECT_EQ(telnet::com_port_command(telnet::ComPort::SetBaudrate, telnet::big_endian32(38400)),
            (Bytes{IAC, SB, COM, 1, 0, 0, 0x96, 0, IAC, SE}));
  // A value byte of 255 is doubled inside the subnegotiation.
  EXPECT_EQ(telnet::com_port_command(telnet::ComPort::SetBaudrate, telnet::big_endian32(0xFF)),
            (Bytes{IAC, SB, COM, 1, 0, 0, 0, IAC, IAC, IAC, SE}));
  EXPECT_EQ(telnet::com_port_command(telnet::ComPort::PurgeData, {1}), (Bytes{IAC, SB, COM, 12, 1, IAC, SE}));

  struct Row {
    Bytes stream;
    bool message;
    std::uint8_t command;
    bool notification;
  } rows[] = {
      {{IAC, SB, COM, 103, 1, IAC, SE}, true, 3, false},   {{IAC, SB, COM, 112, 1, IAC, SE}, true, 12, false},
      {{IAC, SB, COM, 106, 0x60, IAC, SE}, true, 6, true}, {{IAC, SB, COM, 107, 0x30, IAC, SE}, true, 7, true},
      {{IAC, SB, COM, 108, IAC, SE}, true, 8, true},       {{IAC, SB, COM, 109, IAC, SE}, true, 9, true},
      {{IAC, SB, COM, 3, 1, IAC, SE}, false, 0, false},  // a client's command, not a server's answer
      {{IAC, SB, 24, 0, IAC, SE}, false, 0, false},      // another option
      {{IAC, SB, COM, IAC, SE}, false, 0, false},        // empty
  };
  for (const Row& r : rows) {
    const Decoded d = decode(r.stream);
    ASSERT_EQ(d.events.size(), 1u);
    const auto m = telnet::com_port_message(d.events[0]);
    ASSERT_EQ(m.has_value(), r.message);
    if (!m) continue;
    EXPECT_EQ(m->command, r.command);
    EXPECT_EQ(m->notification(), r.notification);
  }
}

TEST(TelnetNegotiation, AgreesToWhatItWantsOnceAndRefusesTheRest) {
  telnet::Negotiation n;
  EXPECT_EQ(n.opening(), (Bytes{IAC, WILL, COM, IAC, WILL, BIN, IAC, WILL, SGA, IAC, DO, BIN, IAC, DO, SGA}));
  struct Row {
    std::uint8_t verb, option;
    Bytes reply;
  } rows[] = {
      {DO, COM, {}},    // the answer to our WILL: no reply
      {DO, COM, {}},    // said again: still no reply (no loop)
      {WILL, BIN, {}},  // the answer to our DO
      {WILL, ECHO, {IAC, DONT, ECHO}},
      {DO, ECHO, {IAC, WONT, ECHO}},
      {DONT, ECHO, {}},               // already off
      {WILL, COM, {IAC, DONT, COM}},  // the server never performs the option
      {DONT, SGA, {}},                // refusal of our request: acknowledged by nothing
      {DO, SGA, {IAC, WILL, SGA}},    // asked again later: agreed
      {WONT, BIN, {IAC, DONT, BIN}},  // the server stops binary: acknowledged
  };
  for (const Row& r : rows) EXPECT_EQ(n.reply(r.verb, r.option), r.reply) << int(r.verb) << " " << int(r.option);
  EXPECT_TRUE(n.com_port_agreed());
}

TEST(TelnetNegotiation, RefusedComPortIsKnown) {
  telnet::Negotiation n;
  n.opening();
  EXPECT_FALSE(n.com_port_answered());
  EXPECT_EQ(n.reply(DONT, COM), Bytes{});
  EXPECT_TRUE(n.com_port_refused());
  EXPECT_TRUE(n.com_port_answered());
}

TEST(PortUrl, GoodAndMalformed) {
  struct Row {
    const char* text;
    bool good;
    PortUrl::Scheme scheme;
    const char* host;
    unsigned port;
  } rows[] = {
      {"rfc2217://127.0.0.1:3001", true, PortUrl::Scheme::Rfc2217, "127.0.0.1", 3001},
      {"tcp://fixture-4.lab:65535", true, PortUrl::Scheme::Tcp, "fixture-4.lab", 65535},
      {"rfc2217://[::1]:1", true, PortUrl::Scheme::Rfc2217, "::1", 1},
      {"tcp://[fe80::1%eth0]:4000", true, PortUrl::Scheme::Tcp, "fe80::1%eth0", 4000},
      {"rfc2217://host", false, {}, "", 0},
      {"rfc2217://host:", false, {}, "", 0},
      {"rfc2217://:3001", false, {}, "", 0},
      {"rfc2217://host:0", false, {}, "", 0},
      {"rfc2217://host:65536", false, {}, "", 0},
      {"rfc2217://host:30x1", false, {}, "", 0},
      {"rfc2217://host:-1", false, {}, "", 0},
      {"tcp://host:3001/path", false, {}, "", 0},
      {"tcp://user@host:3001", false, {}, "", 0},
      {"tcp://::1:3001", false, {}, "", 0},
      {"tcp://[::1:3001", false, {}, "", 0},
      {"tcp://[::1]3001", false, {}, "", 0},
      {"tcp://[]:3001", false, {}, "", 0},
  };
  for (const Row& r : rows) {
    EXPECT_TRUE(is_port_url(r.text)) << r.text;
    std::string why;
    const auto url = parse_port_url(r.text, why);
    ASSERT_EQ(url.has_value(), r.good) << r.text << ": " << why;
    if (!url) {
      EXPECT_FALSE(why.empty()) << r.text;
      continue;
    }
    EXPECT_EQ(url->scheme, r.scheme) << r.text;
    EXPECT_EQ(url->host, r.host) << r.text;
    EXPECT_EQ(url->port, r.port) << r.text;
  }
  for (const char* device : {"/dev/ttyUSB0", "COM7", "rfc2217:/x:1", "TCP://h:1", "telnet://h:1"})
    EXPECT_FALSE(is_port_url(device)) << device;
}

}  // namespace
}  // namespace vx
