// Telnet with the COM-PORT-OPTION: the byte stream a network serial port speaks (rfc2217:// ports).
//
// Data bytes travel as they are, except 0xFF (IAC), which is sent twice. IAC followed by WILL, WONT,
// DO or DONT and an option is a negotiation; IAC SB option ... IAC SE a subnegotiation (an IAC inside
// it doubled too); IAC and any other command byte a command of its own (NOP, GA, ...). The Decoder
// splits a received stream into the data bytes and these events, keeping its place across reads, so a
// sequence cut between two reads (IAC at the end of one, its verb at the start of the next) comes out
// exactly as if it had come whole, and no byte of an event is ever taken for data.
//
// The client asks WILL COM-PORT-OPTION (the server then takes settings from it), BINARY both ways (no
// CR NUL stuffing, every byte value passes) and SUPPRESS-GO-AHEAD both ways. Negotiation keeps what
// each side has agreed to and answers the server's requests so that no request is acknowledged twice
// (no negotiation loop): an option we want is agreed, any other refused.
//
// COM-PORT-OPTION commands go out as IAC SB 44 command value IAC SE; the server answers each with the
// command plus 100 and the value it put in force, and sends notifications (line state, modem state,
// flow control) whenever it likes. com_port_message reads such a subnegotiation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vx::telnet {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands as the client sends them; the server's answer is the command + kServerOffset.
enum class ComPort : std::uint8_t {
  SetBaudrate = 1,
  SetDatasize = 2,
  SetParity = 3,
  SetStopsize = 4,
  SetControl = 5,
  NotifyLinestate = 6,
  NotifyModemstate = 7,
  FlowcontrolSuspend = 8,
  FlowcontrolResume = 9,
  SetLinestateMask = 10,
  SetModemstateMask = 11,
  PurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// The values of SET-PARITY and SET-STOPSIZE, and PURGE-DATA's "the server's receive buffer".
inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kParityOdd = 2;
inline constexpr std::uint8_t kParityEven = 3;
inline constexpr std::uint8_t kOneStopBit = 1;
inline constexpr std::uint8_t kPurgeReceived = 1;

// Appends p[0..n) to out with every IAC doubled.
void append_escaped(Bytes& out, const std::uint8_t* p, std::size_t n);

// IAC verb option.
Bytes negotiation(std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
Bytes com_port_command(ComPort command, const Bytes& value);
// A 32-bit value as COM-PORT-OPTION carries it (network order), and back (0 unless 4 bytes).
Bytes big_endian32(std::uint32_t value);
std::uint32_t read_big_endian32(const Bytes& value);

struct Event {
  enum class Kind { Negotiation, Subnegotiation, Command };
  Kind kind = Kind::Command;
  std::uint8_t verb = 0;    // WILL/WONT/DO/DONT, or the command byte
  std::uint8_t option = 0;  // negotiation and subnegotiation
  Bytes payload;            // a subnegotiation's bytes after the option, undoubled
};

class Decoder {
 public:
  // Longer subnegotiations keep their first bytes only (the rest is dropped, the event still ends).
  static constexpr std::size_t kMaxPayload = 64;

  // Decodes p[0..n): data bytes are appended to `data`, events to `events`, in the order they came.
  void feed(const std::uint8_t* p, std::size_t n, Bytes& data, std::vector<Event>& events);

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };
  void after_iac(std::uint8_t b, Bytes& data, std::vector<Event>& events);
  void in_sub_iac(std::uint8_t b, Bytes& data, std::vector<Event>& events);
  void end_sub(std::vector<Event>& events);
  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  bool sub_has_option_ = false;
  Event sub_;
};

// A COM-PORT-OPTION message from the server: its command (less kServerOffset) and value.
struct ComPortMessage {
  std::uint8_t command = 0;
  Bytes value;
  bool notification() const;  // line state, modem state, flow control: not the answer to a command
};
std::optional<ComPortMessage> com_port_message(const Event& event);

// Which options each side has agreed to, and the replies a server's requests need.
class Negotiation {
 public:
  // The client's requests at the opening: WILL COM-PORT-OPTION, WILL and DO BINARY, WILL and DO
  // SUPPRESS-GO-AHEAD.
  Bytes opening();
  // The reply to the server's WILL/WONT/DO/DONT `option` (empty when none is due).
  Bytes reply(std::uint8_t verb, std::uint8_t option);
  bool com_port_agreed() const { return ours_[kComPortOption] == State::On; }
  bool com_port_refused() const { return ours_[kComPortOption] == State::Refused; }
  // Whether the server has answered the request for COM-PORT-OPTION either way.
  bool com_port_answered() const { return com_port_agreed() || com_port_refused(); }

 private:
  enum class State : std::uint8_t { Off, Asked, On, Refused };
  static bool wanted(std::uint8_t option);
  Bytes reply_on_ours(std::uint8_t verb, std::uint8_t option);
  Bytes reply_on_theirs(std::uint8_t verb, std::uint8_t option);
  State ours_[256] = {};    // options this side performs (WILL / WONT)
  State theirs_[256] = {};  // options the server performs (DO / DONT)
};

}  // namespace vx::telnet
