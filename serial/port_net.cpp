#include "serial/port_net.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "console/diag.h"
#include "protocol/telnet.h"
#include "serial/socket.h"

namespace vx {
namespace {

namespace tn = telnet;

constexpr std::size_t kReceiveChunk = 4096;
constexpr Micros kReplyLimit{Millis(1000)};  // for a negotiation's reply to leave
constexpr std::uint8_t kDataBits = 8;
constexpr unsigned kFramingBits = 2;  // a start and a stop bit around every character
constexpr long long kMicrosPerSecond = 1000000;
// An exporting host reads the serial line in pieces and sends each piece as it has it: a pause between
// two pieces of one answer is longer than a UART's between two bytes (a busy exporter, a lost segment
// sent again). Added to the 15 ms of silence that end a window without a complete frame; an answer that
// is complete ends its window at once, so this costs a run nothing while answers are whole.
constexpr Micros kStreamGapAllowance{Millis(35)};

// How long n characters take on a serial line with these settings.
Micros line_time(std::size_t n, const LineSettings& s) {
  if (s.baud == 0) return Micros(0);
  const unsigned bits = kDataBits + kFramingBits + (s.parity == Parity::None ? 0 : 1);
  return Micros(static_cast<long long>(n) * bits * kMicrosPerSecond / s.baud);
}

// The connection's bytes: telnet decoded for rfc2217://, as they come for tcp://.
class NetStream : public ByteSource {
 public:
  NetStream(std::unique_ptr<Socket> socket, bool telnet, std::string name)
      : socket_(std::move(socket)), telnet_(telnet), name_(std::move(name)) {}

  std::size_t read_some(std::uint8_t* buf, std::size_t n, Micros wait) override {
    const Micros deadline = steady_clock().now() + wait;
    for (;;) {
      if (pending_at_ < pending_.size()) return take_pending(buf, n);
      const Micros left = deadline - steady_clock().now();
      if (!lost_.empty()) {
        // Nothing more will come: the window is waited out, as for a device that hung up.
        steady_clock().sleep_for(left);
        return 0;
      }
      if (!receive(std::max(left, Micros(0))) && left.count() <= 0) return 0;
    }
  }

  // Data bytes; false when they did not all leave within `limit`.
  bool send_data(const std::uint8_t* p, std::size_t n, Micros limit) {
    if (!telnet_) return send(tn::Bytes(p, p + n), limit);
    tn::Bytes escaped;
    tn::append_escaped(escaped, p, n);
    return send(escaped, limit);
  }
  bool send_command(const tn::Bytes& bytes) { return send(bytes, kReplyLimit); }

  // Reads (keeping data bytes for later) until done() holds, `limit` passes or the connection is lost.
  template <typename Done>
  void wait_until(Done done, Micros limit) {
    const Micros deadline = steady_clock().now() + limit;
    while (!done() && lost_.empty()) {
      const Micros left = deadline - steady_clock().now();
      if (left.count() <= 0) return;
      receive(left);
    }
  }

  tn::Negotiation& negotiation() { return negotiation_; }
  // The server's latest answer to a COM-PORT-OPTION command, and when the first answer of all came.
  const tn::Bytes* answer(tn::ComPort command) const {
    const auto it = answers_.find(static_cast<std::uint8_t>(command));
    return it == answers_.end() ? nullptr : &it->second;
  }
  void forget_answer(tn::ComPort command) { answers_.erase(static_cast<std::uint8_t>(command)); }
  std::optional<Micros> first_answer_at() const { return first_answer_at_; }

  // The data bytes received and not read yet, dropped (what came before a purge), as text for a
  // message (a server that turns a client away says why in text).
  std::string drop_data() {
    std::string text(pending_.begin() + static_cast<long>(pending_at_), pending_.end());
    pending_.clear();
    pending_at_ = 0;
    return text;
  }
  const std::string& lost() const { return lost_; }

 private:
  std::size_t take_pending(std::uint8_t* buf, std::size_t n) {
    const std::size_t k = std::min(n, pending_.size() - pending_at_);
    std::memcpy(buf, pending_.data() + pending_at_, k);
    pending_at_ += k;
    if (pending_at_ == pending_.size()) drop_data();
    return k;
  }

  // One receive; false when nothing came within `wait`.
  bool receive(Micros wait) {
    std::uint8_t chunk[kReceiveChunk];
    std::size_t got = 0;
    std::string why;
    switch (socket_->receive(chunk, sizeof chunk, wait, got, why)) {
      case Socket::Io::TimedOut: return false;
      case Socket::Io::Closed: lose(name_ + " closed the connection"); return false;
      case Socket::Io::Failed: lose("the connection to " + name_ + " failed: " + why); return false;
      case Socket::Io::Done: break;
    }
    if (!telnet_) {
      pending_.insert(pending_.end(), chunk, chunk + got);
      return true;
    }
    std::vector<tn::Event> events;
    decoder_.feed(chunk, got, pending_, events);
    for (const tn::Event& e : events) take_event(e);
    return true;
  }

  void take_event(const tn::Event& e) {
    if (e.kind == tn::Event::Kind::Negotiation) {
      const tn::Bytes reply = negotiation_.reply(e.verb, e.option);
      if (!reply.empty()) send_command(reply);
      return;
    }
    const std::optional<tn::ComPortMessage> message = tn::com_port_message(e);
    if (!message || message->notification()) return;  // notifications say nothing an exchange needs
    answers_[message->command] = message->value;
    if (!first_answer_at_) first_answer_at_ = steady_clock().now();
  }

  bool send(const tn::Bytes& bytes, Micros limit) {
    if (!lost_.empty()) return false;
    std::string why;
    const Socket::Io io = socket_->send_all(bytes.data(), bytes.size(), limit, why);
    if (io == Socket::Io::Failed) lose("the connection to " + name_ + " failed: " + why);
    return io == Socket::Io::Done;
  }

  void lose(std::string why) {
    if (lost_.empty()) lost_ = std::move(why);
  }

  std::unique_ptr<Socket> socket_;
  bool telnet_;
  std::string name_;
  tn::Decoder decoder_;
  tn::Negotiation negotiation_;
  tn::Bytes pending_;
  std::size_t pending_at_ = 0;
  std::map<std::uint8_t, tn::Bytes> answers_;
  std::optional<Micros> first_answer_at_;
  std::string lost_;
};

class NetPort : public Port {
 public:
  NetPort(std::unique_ptr<NetStream> stream, const LineSettings& settings, Micros round_trip)
      : stream_(std::move(stream)),
        settings_(settings),
        idle_gap_(idle_interval(settings.baud)),
        round_trip_(round_trip),
        reader_(*stream_, steady_clock()) {}

  bool write_frame(const std::uint8_t* data, std::size_t n, Millis limit) override {
    reader_.settle(idle_gap_, data, n);
    request_time_ = line_time(n, settings_);
    return stream_->send_data(data, n, limit);
  }
  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) override {
    ReadWindow widened = window;
    widened.total += round_trip_ + request_time_;
    widened.inter_byte += kStreamGapAllowance;
    return reader_.read(buf, cap, widened);
  }
  std::size_t unsolicited_bytes() const override { return reader_.unsolicited_bytes(); }
  void listen_after_last_answer() override { reader_.listen_after_last_answer(idle_gap_); }
  std::string connection_lost() const override { return stream_->lost(); }

 private:
  std::unique_ptr<NetStream> stream_;
  LineSettings settings_;
  Micros idle_gap_;
  Micros round_trip_;
  Micros request_time_{0};
  AnswerReader reader_;
};

// One setting the run asks of the server, and how to name a value of it.
struct Setting {
  tn::ComPort command;
  tn::Bytes asked;
  std::string (*describe)(const tn::Bytes&);
};

std::string describe_baud(const tn::Bytes& v) { return std::to_string(tn::read_big_endian32(v)) + " baud"; }
std::string describe_one_byte(const tn::Bytes& v, const char* what) {
  return (v.size() == 1 ? std::to_string(v[0]) : std::string("an unreadable value")) + " " + what;
}
std::string describe_datasize(const tn::Bytes& v) { return describe_one_byte(v, "data bits"); }
std::string describe_stopsize(const tn::Bytes& v) { return describe_one_byte(v, "(stop bits code)"); }
std::string describe_parity(const tn::Bytes& v) {
  if (v == tn::Bytes{tn::kParityNone}) return "no parity";
  if (v == tn::Bytes{tn::kParityOdd}) return "odd parity";
  if (v == tn::Bytes{tn::kParityEven}) return "even parity";
  return describe_one_byte(v, "(parity code)");
}

std::uint8_t parity_code(Parity p) {
  switch (p) {
    case Parity::Odd: return tn::kParityOdd;
    case Parity::Even: return tn::kParityEven;
    default: return tn::kParityNone;
  }
}

std::vector<Setting> settings_of(const LineSettings& s) {
  return {{tn::ComPort::SetBaudrate, tn::big_endian32(s.baud), describe_baud},
          {tn::ComPort::SetDatasize, {kDataBits}, describe_datasize},
          {tn::ComPort::SetParity, {parity_code(s.parity)}, describe_parity},
          {tn::ComPort::SetStopsize, {tn::kOneStopBit}, describe_stopsize}};
}

// Every setting the server answered must be the one asked; those it did not answer are said once.
bool check_answers(const NetStream& stream, const std::vector<Setting>& wanted, const std::string& name,
                   std::string& why) {
  std::string unconfirmed;
  for (const Setting& s : wanted) {
    const tn::Bytes* got = stream.answer(s.command);
    if (!got) {
      unconfirmed += (unconfirmed.empty() ? "" : ", ") + s.describe(s.asked);
    } else if (*got != s.asked) {
      why = "the server put " + s.describe(*got) + " in force, not " + s.describe(s.asked) + " as asked";
      return false;
    }
  }
  if (!unconfirmed.empty())
    diagnostic(name + ": the server did not confirm " + unconfirmed + " within " + std::to_string(kOptionWait.count()) +
               " ms; going on with the line as the server has it");
  return true;
}

// The telnet options and the line settings; `round_trip` grows to the time the first answer took.
bool negotiate(NetStream& stream, const LineSettings& settings, const std::string& name, Micros& round_trip,
               std::string& why) {
  const std::vector<Setting> wanted = settings_of(settings);
  tn::Bytes out = stream.negotiation().opening();
  for (const Setting& s : wanted) {
    const tn::Bytes command = tn::com_port_command(s.command, s.asked);
    out.insert(out.end(), command.begin(), command.end());
  }
  const Micros sent = steady_clock().now();
  stream.send_command(out);
  const auto all_answered = [&] {
    if (stream.negotiation().com_port_refused()) return true;
    return std::all_of(wanted.begin(), wanted.end(), [&](const Setting& s) { return stream.answer(s.command); });
  };
  stream.wait_until(all_answered, kOptionWait);
  if (!stream.lost().empty()) return false;
  if (stream.negotiation().com_port_refused()) {
    why =
        "the server refuses the COM-PORT-OPTION, so the line settings can't be set (tcp:// takes the line "
        "as the server has it)";
    return false;
  }
  if (const auto first = stream.first_answer_at()) round_trip = std::max(round_trip, *first - sent);
  return check_answers(stream, wanted, name, why);
}

// PURGE-DATA in place of a UART's flush; a server that never took the option gets no purge to wait for.
void purge(NetStream& stream) {
  if (!stream.negotiation().com_port_agreed()) return;
  stream.forget_answer(tn::ComPort::PurgeData);
  stream.send_command(tn::com_port_command(tn::ComPort::PurgeData, {tn::kPurgeReceived}));
  stream.wait_until([&] { return stream.answer(tn::ComPort::PurgeData) != nullptr; }, kOptionWait);
}

// The reason a connection that closed during the opening gives, with what the server said first.
std::string closed_reason(const std::string& lost, const std::string& said) {
  std::string text;
  for (char c : said)
    if (c >= ' ' && c < '\x7f') text += c;
  if (text.empty()) return lost + " (another client may hold the port)";
  return lost + ", saying \"" + text + "\"";
}

}  // namespace

OpenResult open_network_port(const std::string& com_name, const PortUrl& url, const LineSettings& settings) {
  OpenResult r;
  const std::string name = com_name + " (" + url.text + ")";
  const Micros start = steady_clock().now();
  std::string why;
  std::unique_ptr<Socket> socket = connect_tcp(url.host, url.port, kConnectTimeout, why);
  if (!socket) {
    r.why = "can't connect " + name + ": " + why;
    return r;
  }
  Micros round_trip = steady_clock().now() - start;
  const bool telnet = url.scheme == PortUrl::Scheme::Rfc2217;
  auto stream = std::make_unique<NetStream>(std::move(socket), telnet, url.text);
  if (telnet && !negotiate(*stream, settings, name, round_trip, why)) {
    r.why = name + ": " + (why.empty() ? closed_reason(stream->lost(), stream->drop_data()) : why);
    return r;
  }
  if (telnet) purge(*stream);
  const std::string said = stream->drop_data();
  if (!stream->lost().empty()) {
    r.why = name + ": " + closed_reason(stream->lost(), said);
    return r;
  }
  r.port = std::make_unique<NetPort>(std::move(stream), settings, round_trip);
  return r;
}

}  // namespace vx
