// Faults the board can be told to make, and the plan that decides which telegram gets which.
//
// A rule is KIND:KEY=VALUE[,KEY=VALUE...] (the --fault option):
//   drop          no answer at all (the request is carried out, the answer is lost)
//   late          the answer comes `delay` ms late (default 400: after the loader's 306 ms read window)
//   split         the answer has a pause of `pause` ms in its middle (default 40: over the 15 ms gap)
//   bad-end       the answer's end byte is damaged
//   bad-checksum  the answer's checksum is damaged (the end byte stays right)
//   noise         `bytes` noise bytes (default 4, 2 to 64) come before the answer
//   refuse        a block telegram is refused with "!refused" and not written
//   silent        the board answers `after` telegrams, then never again (and carries nothing out)
//   echo          the line echoes the request byte for byte before the board's answer (a loopback, an
//                 RS-485 adapter); the echo comes even from a silent board, since the line makes it
//   twice         the answer comes again `delay` ms after its end (default 3: a board or adapter that
//                 repeats what it sends, well inside the loader's 15 ms of silence)
//   ragged        a read's answer holds one byte less or one more than asked for (which, at random)
//   garbage       `bytes` bytes of text (default 512, 1 to 4096) come in place of the answer: a line that
//                 carries no frame at all (a board at another baud rate, a console wired to the port);
//                 the request is carried out
// and every kind but silent takes one of: every=N (the Nth, 2Nth, ... telegram) or rate=P (each telegram
// with probability P, 0 to 1). refuse counts block telegrams only; the others count every telegram.
//
// Reproducible: the decisions are a function of the rules, the seed and the sequence of telegrams. Each
// telegram draws once for each rate rule (a refuse rule: each block telegram), in the order the rules were
// given, whether or not an earlier rule fired, from a 64-bit Mersenne twister turned into a fraction by its
// top 53 bits (no library distribution, whose results may differ between standard libraries). Noise bytes
// come from the same generator.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "board/transmitter.h"

namespace vx::board {

using Millis = std::chrono::milliseconds;

enum class FaultKind { Drop, Late, Split, BadEnd, BadChecksum, Noise, Refuse, Silent, Echo, Twice, Ragged, Garbage };

inline constexpr Millis kDefaultLateBy{400};
inline constexpr Millis kDefaultSplitPause{40};
inline constexpr Millis kDefaultRepeatDelay{3};
inline constexpr unsigned kDefaultNoiseBytes = 4;
inline constexpr unsigned kMinNoiseBytes = 2;
inline constexpr unsigned kMaxNoiseBytes = 64;
inline constexpr unsigned kDefaultGarbageBytes = 512;  // two read windows' worth: the line stays full
inline constexpr unsigned kMaxGarbageBytes = 4096;
inline constexpr std::string_view kRefusedBlock = "!refused";

struct FaultRule {
  FaultKind kind = FaultKind::Drop;
  unsigned every = 0;  // 0: not by count
  double rate = 0;     // used when every is 0
  unsigned after = 0;  // silent
  Millis delay{0};     // late: how late; split: the pause; twice: the repeat's distance
  unsigned bytes = 0;  // noise, garbage
};

bool parse_fault(std::string_view rule_text, FaultRule& out, std::string& why);
std::string_view fault_name(FaultKind kind);
// The --help lines of the --fault option, from the same table its keys are read by.
std::string fault_usage();

struct FaultDecision {
  bool silent = false;
  bool drop = false;
  bool refuse = false;
  bool bad_checksum = false;
  bool bad_end = false;
  bool echo = false;
  std::optional<Millis> repeat_after;  // twice
  int ragged = 0;                      // a read's answer: -1 one byte short, +1 one byte long
  std::optional<Millis> late;
  std::optional<Millis> split;
  Bytes noise;
  Bytes garbage;              // in place of the answer
  std::string names() const;  // "late,split", for the log; empty when none
};

class FaultPlan {
 public:
  explicit FaultPlan(std::vector<FaultRule> rules = {}, std::uint64_t seed = 1);
  // The decision for the next telegram, in order of arrival.
  FaultDecision next(bool is_block);
  std::uint64_t telegrams() const { return telegrams_; }

 private:
  bool fires(const FaultRule& rule, std::uint64_t number);
  double draw();
  Bytes noise(unsigned n);
  Bytes garbage(unsigned n);

  std::vector<FaultRule> rules_;
  std::mt19937_64 random_;
  std::uint64_t telegrams_ = 0;
  std::uint64_t blocks_ = 0;
};

// An answer frame as the line carries it with the decision's damage done: noise, then the frame, split
// in two when asked, then its repeat. The emission's time is the caller's.
std::vector<Part> shape_answer(Bytes frame, const FaultDecision& d);

// A read's answer text ('=' and pairs) one byte short (ragged < 0) or long (ragged > 0).
std::string ragged_read_answer(std::string text, int ragged);

}  // namespace vx::board
