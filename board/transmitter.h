// The board's transmitter: what goes on the line, and when.
//
// An emission is one answer as the line carries it: one or more parts, each a run of bytes sent without
// pause, the part after the first following a gap after the one before (a split answer). Emissions wait in
// order of their earliest start; one occupies the line from its first byte to its last, so a late answer
// and the next one never interleave. Without a byte time a part is due whole at its start, one write.
// With a byte time (--baud) byte k of a part is due k byte times after the part's start, and take_due hands
// out what is due up to one pacing slice ahead, so the bytes arrive in small bursts spaced like on a wire.
//
// Pure: the caller brings the time (a monotonic clock) and does the writing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace vx::board {

using Micros = std::chrono::microseconds;
using Bytes = std::vector<std::uint8_t>;

inline constexpr Micros kPacingSlice{1000};

struct Part {
  Micros gap{0};  // the line's pause before this part (after the part before, or the emission's start)
  Bytes bytes;
  std::string dir;  // for the log: "out", "noise"
  std::string note;
};

struct Emission {
  Micros earliest{0};
  std::vector<Part> parts;
};

struct Write {
  Bytes bytes;                  // to put on the line now
  std::optional<Part> started;  // the part these bytes begin (for the log), once per part
  Micros due{0};                // when the first of them was due
};

class Transmitter {
 public:
  explicit Transmitter(Micros byte_time = Micros{0}) : byte_time_(byte_time) {}

  void send(Emission e);
  // When the next byte is due; nothing when the queue is empty.
  std::optional<Micros> next_due() const;
  // Everything due by `now` (plus the pacing slice when paced), in line order.
  std::vector<Write> take_due(Micros now);
  bool idle() const { return queue_.empty(); }
  Micros byte_time() const { return byte_time_; }

 private:
  Micros part_start() const;
  std::size_t bytes_due(Micros start, Micros now) const;
  void finish_part(Micros start);

  Micros byte_time_;
  std::deque<Emission> queue_;
  std::size_t part_ = 0;         // of the front emission
  std::size_t sent_ = 0;         // bytes of that part already written
  std::optional<Micros> start_;  // of that part, fixed once its first byte went out
  Micros line_free_{0};
};

}  // namespace vx::board
