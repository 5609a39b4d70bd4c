#include "board/faults.h"

#include <array>
#include <cstdlib>
#include <utility>

#include "board/telegrams.h"
#include "cli/option_table.h"
#include "protocol/frame.h"

namespace vx::board {

namespace {

struct KindName {
  FaultKind kind;
  std::string_view name;
};
constexpr std::array<KindName, 12> kKinds{{
    {FaultKind::Drop, "drop"},
    {FaultKind::Late, "late"},
    {FaultKind::Split, "split"},
    {FaultKind::BadEnd, "bad-end"},
    {FaultKind::BadChecksum, "bad-checksum"},
    {FaultKind::Noise, "noise"},
    {FaultKind::Refuse, "refuse"},
    {FaultKind::Silent, "silent"},
    {FaultKind::Echo, "echo"},
    {FaultKind::Twice, "twice"},
    {FaultKind::Ragged, "ragged"},
    {FaultKind::Garbage, "garbage"},
}};

constexpr std::uint8_t kDamage = 0xFF;  // XORed into a damaged byte: never leaves it as it was
constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;
constexpr unsigned kUnusedBits = 11;  // of 64, to keep the 53 a double holds

bool parse_rate(std::string_view s, double& out) {
  std::string text(s);
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
  out = v;
  return true;
}

bool find_kind(std::string_view name, FaultKind& kind) {
  for (const auto& k : kKinds) {
    if (k.name == name) {
      kind = k.kind;
      return true;
    }
  }
  return false;
}

bool all_but_silent(FaultKind kind) { return kind != FaultKind::Silent; }
bool only_silent(FaultKind kind) { return kind == FaultKind::Silent; }
bool late_or_twice(FaultKind kind) { return kind == FaultKind::Late || kind == FaultKind::Twice; }
bool only_split(FaultKind kind) { return kind == FaultKind::Split; }
bool only_noise(FaultKind kind) { return kind == FaultKind::Noise; }
bool only_garbage(FaultKind kind) { return kind == FaultKind::Garbage; }

// Garbage is printable text, as a console or a board at another rate sends, without the start byte
// ('h'): no part of it can begin a frame.
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr unsigned kPrintables = 0x7F - kFirstPrintable;

std::string read_every(FaultRule& r, std::string_view, std::string_view value) {
  if (!cli::parse_number(value, r.every) || r.every == 0) return "every needs a whole number of 1 or more";
  return {};
}

std::string read_rate(FaultRule& r, std::string_view, std::string_view value) {
  if (!parse_rate(value, r.rate)) return "rate needs a number from 0 to 1";
  return {};
}

std::string read_after(FaultRule& r, std::string_view, std::string_view value) {
  if (!cli::parse_number(value, r.after)) return "after needs a whole number";
  return {};
}

std::string read_delay(FaultRule& r, std::string_view key, std::string_view value) {
  unsigned ms = 0;
  if (!cli::parse_number(value, ms) || ms == 0) return std::string(key) + " needs a number of milliseconds, 1 or more";
  r.delay = Millis(ms);
  return {};
}

std::string read_bytes_within(FaultRule& r, std::string_view value, unsigned least, unsigned most) {
  unsigned n = 0;
  if (!cli::parse_number(value, n) || n < least || n > most)
    return "bytes needs a number from " + std::to_string(least) + " to " + std::to_string(most);
  r.bytes = n;
  return {};
}

std::string read_noise_bytes(FaultRule& r, std::string_view, std::string_view value) {
  return read_bytes_within(r, value, kMinNoiseBytes, kMaxNoiseBytes);
}

std::string read_garbage_bytes(FaultRule& r, std::string_view, std::string_view value) {
  return read_bytes_within(r, value, 1, kMaxGarbageBytes);
}

// The keys of a rule: the kinds each belongs to, how its value is read into the rule (the reason when
// it is bad), and its lines in the simulator's --help. The help shows how a rule is triggered; the
// keys that shape a fault (delay, pause, bytes) are left to docs/simulator.md and the man page.
struct FaultKey {
  std::string_view key;
  bool (*belongs_to)(FaultKind);
  std::string (*read)(FaultRule&, std::string_view key, std::string_view value);
  std::string_view usage;
};

constexpr std::array<FaultKey, 7> kKeys{{
    {"every", all_but_silent, read_every,
     "  --fault KIND:every=N   KIND drop, late, split, bad-end, bad-checksum, noise, refuse, echo, twice, ragged\n"
     "                         or garbage, every Nth telegram\n"},
    {"rate", all_but_silent, read_rate, "  --fault KIND:rate=P    ... at random with probability P\n"},
    {"after", only_silent, read_after, "  --fault silent:after=N answer N telegrams, then nothing\n"},
    {"delay", late_or_twice, read_delay, ""},
    {"pause", only_split, read_delay, ""},
    {"bytes", only_noise, read_noise_bytes, ""},
    {"bytes", only_garbage, read_garbage_bytes, ""},
}};

// The key's value applied to the rule; the reason when the key doesn't belong to the kind or the value is bad.
std::string apply_key(FaultRule& r, std::string_view key, std::string_view value) {
  for (const FaultKey& k : kKeys)
    if (k.key == key && k.belongs_to(r.kind)) return k.read(r, key, value);
  return "'" + std::string(key) + "' does not apply to " + std::string(fault_name(r.kind));
}

FaultRule defaults_for(FaultKind kind) {
  FaultRule r;
  r.kind = kind;
  if (kind == FaultKind::Late) r.delay = kDefaultLateBy;
  if (kind == FaultKind::Split) r.delay = kDefaultSplitPause;
  if (kind == FaultKind::Twice) r.delay = kDefaultRepeatDelay;
  if (kind == FaultKind::Noise) r.bytes = kDefaultNoiseBytes;
  if (kind == FaultKind::Garbage) r.bytes = kDefaultGarbageBytes;
  return r;
}

std::string check_complete(const FaultRule& r, bool has_every, bool has_rate, bool has_after) {
  if (r.kind == FaultKind::Silent) return has_after ? "" : "silent needs after=N";
  if (has_every == has_rate) return std::string(fault_name(r.kind)) + " needs one of every=N and rate=P";
  return {};
}

// Noise must not pass for an answer: the loader takes the second byte it receives as L and looks for the
// end byte L+5 bytes in, so the second noise byte is moved until it points at no end byte.
void keep_noise_unreadable(Bytes& noise, const Bytes& frame) {
  Bytes line = noise;
  line.insert(line.end(), frame.begin(), frame.end());
  for (unsigned tries = 0; tries < 256; ++tries) {
    std::size_t end_at = std::size_t{line[1]} + ft12::kOverhead - 1;
    if (end_at >= line.size() || line[end_at] != ft12::kEnd) break;
    do {
      ++line[1];
    } while (line[1] == ft12::kStart || line[1] == ft12::kEnd);
  }
  noise[1] = line[1];
}

}  // namespace

std::string fault_usage() {
  std::string text;
  for (const FaultKey& k : kKeys) text += k.usage;
  return text;
}

std::string_view fault_name(FaultKind kind) {
  for (const auto& k : kKinds)
    if (k.kind == kind) return k.name;
  return "?";
}

bool parse_fault(std::string_view rule_text, FaultRule& out, std::string& why) {
  std::size_t colon = rule_text.find(':');
  std::string_view name = rule_text.substr(0, colon);
  FaultKind kind;
  if (!find_kind(name, kind)) {
    why = "unknown fault '" + std::string(name) +
          "' (drop, late, split, bad-end, bad-checksum, noise, refuse, silent, echo, twice, ragged, garbage)";
    return false;
  }
  FaultRule r = defaults_for(kind);
  bool has_every = false, has_rate = false, has_after = false;
  std::string_view rest = colon == std::string_view::npos ? std::string_view{} : rule_text.substr(colon + 1);
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      why = "'" + std::string(item) + "' is not KEY=VALUE";
      return false;
    }
    std::string_view key = item.substr(0, eq);
    why = apply_key(r, key, item.substr(eq + 1));
    if (!why.empty()) return false;
    has_every |= key == "every";
    has_rate |= key == "rate";
    has_after |= key == "after";
  }
  why = check_complete(r, has_every, has_rate, has_after);
  if (!why.empty()) return false;
  out = r;
  return true;
}

std::string FaultDecision::names() const {
  std::string s;
  auto add = [&s](bool on, std::string_view name) {
    if (!on) return;
    if (!s.empty()) s += ',';
    s += name;
  };
  add(silent, "silent");
  add(drop, "drop");
  add(refuse, "refuse");
  add(bad_checksum, "bad-checksum");
  add(bad_end, "bad-end");
  add(!noise.empty(), "noise");
  add(split.has_value(), "split");
  add(late.has_value(), "late");
  add(echo, "echo");
  add(repeat_after.has_value(), "twice");
  add(ragged != 0, "ragged");
  add(!garbage.empty(), "garbage");
  return s;
}

FaultPlan::FaultPlan(std::vector<FaultRule> rules, std::uint64_t seed) : rules_(std::move(rules)), random_(seed) {}

double FaultPlan::draw() { return static_cast<double>(random_() >> kUnusedBits) * kTwoToMinus53; }

bool FaultPlan::fires(const FaultRule& rule, std::uint64_t number) {
  if (rule.every) return number % rule.every == 0;
  return draw() < rule.rate;
}

Bytes FaultPlan::noise(unsigned n) {
  Bytes noise_bytes;
  while (noise_bytes.size() < n) {
    auto v = static_cast<std::uint8_t>(random_());
    if (v != ft12::kStart && v != ft12::kEnd) noise_bytes.push_back(v);
  }
  return noise_bytes;
}

Bytes FaultPlan::garbage(unsigned n) {
  Bytes text;
  while (text.size() < n) {
    const auto c = static_cast<std::uint8_t>(kFirstPrintable + random_() % kPrintables);
    if (c != ft12::kStart) text.push_back(c);
  }
  return text;
}

FaultDecision FaultPlan::next(bool is_block) {
  FaultDecision d;
  ++telegrams_;
  if (is_block) ++blocks_;
  for (const FaultRule& r : rules_) {
    if (r.kind == FaultKind::Silent) {
      d.silent |= telegrams_ > r.after;
      continue;
    }
    if (r.kind == FaultKind::Refuse) {
      d.refuse |= is_block && fires(r, blocks_);
      continue;
    }
    if (!fires(r, telegrams_)) continue;
    switch (r.kind) {
      case FaultKind::Drop: d.drop = true; break;
      case FaultKind::Late: d.late = r.delay; break;
      case FaultKind::Split: d.split = r.delay; break;
      case FaultKind::BadEnd: d.bad_end = true; break;
      case FaultKind::BadChecksum: d.bad_checksum = true; break;
      case FaultKind::Noise: d.noise = noise(r.bytes); break;
      case FaultKind::Echo: d.echo = true; break;
      case FaultKind::Twice: d.repeat_after = r.delay; break;
      case FaultKind::Ragged: d.ragged = (random_() & 1) ? 1 : -1; break;
      case FaultKind::Garbage: d.garbage = garbage(r.bytes); break;
      case FaultKind::Refuse:
      case FaultKind::Silent: break;
    }
  }
  return d;
}

std::vector<Part> shape_answer(Bytes frame, const FaultDecision& d) {
  std::vector<Part> parts;
  if (frame.size() < ft12::kOverhead) return parts;
  if (d.bad_checksum) frame[frame.size() - 2] ^= kDamage;
  if (d.bad_end) frame.back() ^= kDamage;
  if (!d.noise.empty()) {
    Bytes noise = d.noise;
    keep_noise_unreadable(noise, frame);
    parts.push_back(Part{Micros{0}, std::move(noise), "noise", ""});
  }
  if (!d.split) {
    parts.push_back(Part{Micros{0}, frame, "out", ""});
  } else {
    auto middle = frame.begin() + static_cast<std::ptrdiff_t>(frame.size() / 2);
    parts.push_back(Part{Micros{0}, Bytes(frame.begin(), middle), "out", "split 1/2"});
    parts.push_back(Part{*d.split, Bytes(middle, frame.end()), "out", "split 2/2"});
  }
  if (d.repeat_after)
    parts.push_back(Part{std::chrono::duration_cast<Micros>(*d.repeat_after), std::move(frame), "out", "repeated"});
  return parts;
}

std::string ragged_read_answer(std::string text, int ragged) {
  constexpr std::string_view kExtraPair = "00";
  if (text.empty() || text.front() != kAnswerData) return text;
  if (ragged > 0) return text + std::string(kExtraPair);
  if (text.size() > kExtraPair.size()) text.resize(text.size() - kExtraPair.size());
  return text;
}

}  // namespace vx::board
