#include "protocol/telnet.h"

namespace vx::telnet {

void append_escaped(Bytes& out, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == kIac) out.push_back(kIac);
  }
}

Bytes negotiation(std::uint8_t verb, std::uint8_t option) { return Bytes{kIac, verb, option}; }

Bytes com_port_command(ComPort command, const Bytes& value) {
  Bytes out{kIac, kSb, kComPortOption, static_cast<std::uint8_t>(command)};
  append_escaped(out, value.data(), value.size());
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

Bytes big_endian32(std::uint32_t value) {
  return Bytes{static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
               static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::uint32_t read_big_endian32(const Bytes& value) {
  constexpr std::size_t kSize = 4;
  if (value.size() != kSize) return 0;
  std::uint32_t v = 0;
  for (std::uint8_t b : value) v = (v << 8) | b;
  return v;
}

void Decoder::feed(const std::uint8_t* p, std::size_t n, Bytes& data, std::vector<Event>& events) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = p[i];
    switch (state_) {
      case State::Data:
        if (b == kIac) {
          state_ = State::Iac;
        } else {
          data.push_back(b);
        }
        break;
      case State::Iac: after_iac(b, data, events); break;
      case State::Option:
        events.push_back(Event{Event::Kind::Negotiation, verb_, b, {}});
        state_ = State::Data;
        break;
      case State::Sub:
        if (b == kIac) {
          state_ = State::SubIac;
        } else if (!sub_has_option_) {
          sub_.option = b;
          sub_has_option_ = true;
        } else if (sub_.payload.size() < kMaxPayload) {
          sub_.payload.push_back(b);
        }
        break;
      case State::SubIac: in_sub_iac(b, data, events); break;
    }
  }
}

void Decoder::after_iac(std::uint8_t b, Bytes& data, std::vector<Event>& events) {
  state_ = State::Data;
  if (b == kIac) {
    data.push_back(kIac);
  } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
    verb_ = b;
    state_ = State::Option;
  } else if (b == kSb) {
    sub_ = Event{Event::Kind::Subnegotiation, kSb, 0, {}};
    sub_has_option_ = false;
    state_ = State::Sub;
  } else {
    events.push_back(Event{Event::Kind::Command, b, 0, {}});
  }
}

// IAC inside a subnegotiation: a doubled IAC is a value byte, SE ends it. Any other command ends a
// subnegotiation its sender never closed, and is then taken as the command it is.
void Decoder::in_sub_iac(std::uint8_t b, Bytes& data, std::vector<Event>& events) {
  if (b == kIac) {
    state_ = State::Sub;
    if (!sub_has_option_) {
      sub_.option = kIac;
      sub_has_option_ = true;
    } else if (sub_.payload.size() < kMaxPayload) {
      sub_.payload.push_back(kIac);
    }
    return;
  }
  end_sub(events);
  if (b != kSe) after_iac(b, data, events);
}

void Decoder::end_sub(std::vector<Event>& events) {
  state_ = State::Data;
  events.push_back(std::move(sub_));
  sub_ = Event{};
}

bool ComPortMessage::notification() const {
  const auto c = static_cast<ComPort>(command);
  return c == ComPort::NotifyLinestate || c == ComPort::NotifyModemstate || c == ComPort::FlowcontrolSuspend ||
         c == ComPort::FlowcontrolResume;
}

std::optional<ComPortMessage> com_port_message(const Event& event) {
  if (event.kind != Event::Kind::Subnegotiation || event.option != kComPortOption) return std::nullopt;
  if (event.payload.empty() || event.payload[0] <= kServerOffset) return std::nullopt;
  ComPortMessage m;
  m.command = static_cast<std::uint8_t>(event.payload[0] - kServerOffset);
  m.value.assign(event.payload.begin() + 1, event.payload.end());
  return m;
}

Bytes Negotiation::opening() {
  Bytes out;
  for (std::uint8_t option : {kComPortOption, kBinary, kSuppressGoAhead}) {
    ours_[option] = State::Asked;
    const Bytes will = negotiation(kWill, option);
    out.insert(out.end(), will.begin(), will.end());
  }
  for (std::uint8_t option : {kBinary, kSuppressGoAhead}) {
    theirs_[option] = State::Asked;
    const Bytes request = negotiation(kDo, option);
    out.insert(out.end(), request.begin(), request.end());
  }
  return out;
}

bool Negotiation::wanted(std::uint8_t option) {
  return option == kComPortOption || option == kBinary || option == kSuppressGoAhead;
}

Bytes Negotiation::reply(std::uint8_t verb, std::uint8_t option) {
  if (verb == kDo || verb == kDont) return reply_on_ours(verb, option);
  if (verb == kWill || verb == kWont) return reply_on_theirs(verb, option);
  return {};
}

// The server's DO / DONT about an option this side would perform. Only a change of state is answered,
// and an answer to our own request is no change.
Bytes Negotiation::reply_on_ours(std::uint8_t verb, std::uint8_t option) {
  State& s = ours_[option];
  if (verb == kDo) {
    if (s == State::On || s == State::Asked) {
      s = State::On;
      return {};
    }
    if (!wanted(option)) return negotiation(kWont, option);
    s = State::On;
    return negotiation(kWill, option);
  }
  const bool was_on = s == State::On;
  if (s == State::On || s == State::Asked) s = State::Refused;
  return was_on ? negotiation(kWont, option) : Bytes{};
}

// The server's WILL / WONT about an option it would perform. COM-PORT-OPTION is the client's to
// perform, never the server's.
Bytes Negotiation::reply_on_theirs(std::uint8_t verb, std::uint8_t option) {
  State& s = theirs_[option];
  const bool theirs_wanted = option == kBinary || option == kSuppressGoAhead;
  if (verb == kWill) {
    if (s == State::On || s == State::Asked) {
      s = State::On;
      return {};
    }
    if (!theirs_wanted) return negotiation(kDont, option);
    s = State::On;
    return negotiation(kDo, option);
  }
  const bool was_on = s == State::On;
  if (s == State::On || s == State::Asked) s = State::Refused;
  return was_on ? negotiation(kDont, option) : Bytes{};
}

}  // namespace vx::telnet
