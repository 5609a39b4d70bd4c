// The telnet / COM-PORT-OPTION decoder on a stream as a server could send it, split anywhere.
//
// Input: a byte of the number of pieces (the stream is cut into at most 16, at places the next bytes
// give), then pairs: a kind byte and a value byte. An even kind puts the value in as answer data (0xFF
// doubled, as a server sends it); an odd one puts in telnet traffic chosen by the value: a negotiation,
// a command, a COM-PORT-OPTION answer or notification (its value bytes escaped), or, for the rest, the
// value as a raw byte, so any byte order the server could produce is reached. A raw IAC begins a
// sequence that swallows what follows; the check is then only that nothing crashes.
// Invariants: with no raw IAC the data decoded is the answer data exactly, whatever the cuts; the
// decoder never crashes and never gives a subnegotiation longer than its bound.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/telnet.h"

namespace {

using vx::fuzz::require;
namespace tn = vx::telnet;

constexpr std::size_t kMaxPieces = 16;
constexpr std::uint8_t kTrafficKinds = 4;

void append(tn::Bytes& out, const tn::Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Telnet traffic for `value`; false when it is a raw byte instead.
bool put_traffic(tn::Bytes& stream, std::uint8_t value) {
  const std::uint8_t verbs[] = {tn::kWill, tn::kWont, tn::kDo, tn::kDont};
  switch (value % kTrafficKinds) {
    case 0: append(stream, tn::negotiation(verbs[(value >> 2) % 4], value)); return true;
    case 1: append(stream, tn::Bytes{tn::kIac, static_cast<std::uint8_t>(tn::kSe + (value >> 2) % 10)}); return true;
    case 2: {
      // An answer or a notification from the server: the command + 100, a value with 0xFF in it.
      tn::Bytes sub{tn::kIac, tn::kSb, tn::kComPortOption, static_cast<std::uint8_t>(100 + (value >> 2) % 13)};
      const std::uint8_t v[] = {value, tn::kIac, 0};
      tn::append_escaped(sub, v, sizeof v);
      append(sub, tn::Bytes{tn::kIac, tn::kSe});
      append(stream, sub);
      return true;
    }
    default: stream.push_back(value); return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t pieces = data[0] % kMaxPieces;
  std::size_t at = 1;
  std::vector<std::size_t> cut_seeds;
  for (std::size_t i = 0; i < pieces && at < size; ++i) cut_seeds.push_back(data[at++]);
  tn::Bytes stream, answer;
  bool raw = false;
  for (; at + 1 < size; at += 2) {
    const std::uint8_t kind = data[at], value = data[at + 1];
    if (kind % 2 == 0) {
      answer.push_back(value);
      tn::append_escaped(stream, &value, 1);
    } else if (!put_traffic(stream, value)) {
      if (value == tn::kIac)
        raw = true;  // a lone IAC: what it begins swallows what follows
      else
        answer.push_back(value);  // any other raw byte is data as it stands
    }
  }
  tn::Decoder decoder;
  tn::Bytes decoded;
  std::vector<tn::Event> events;
  std::size_t from = 0;
  for (std::size_t seed : cut_seeds) {
    const std::size_t to = stream.empty() ? 0 : from + seed % (stream.size() - from + 1);
    decoder.feed(stream.data() + from, to - from, decoded, events);
    from = to;
  }
  decoder.feed(stream.data() + from, stream.size() - from, decoded, events);
  for (const tn::Event& e : events) require(e.payload.size() <= tn::Decoder::kMaxPayload, "subnegotiation too long");
  if (!raw) require(decoded == answer, "answer bytes altered");
  return 0;
}
