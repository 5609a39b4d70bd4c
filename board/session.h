// One board on one line: bytes in, frames out, with the line model and the fault plan.
//
// receive() feeds what the line brought to the frame receiver. Each request frame for this board (control
// and address 0x7F, user data beginning 0x47 0xF5) is one telegram: the fault plan decides its faults, the
// board carries it out and its answer frame goes to the transmitter, shaped by the faults, at the time the
// line model gives:
//   - on a pseudo-terminal with a baud rate the request arrives in one piece, so the board waits the time
//     the request would have taken on the wire before it answers, and the transmitter paces the answer;
//   - on a real serial device the UART has already taken that time and paces the answer itself;
//   - --think adds the board's own processing time; without a baud rate and think time it answers at once.
// A frame begun and then left unfinished for kFrameIdle is thrown away, so a torn request can't swallow
// the next one.
#pragma once

#include <chrono>
#include <cstdint>

#include "board/board.h"
#include "board/faults.h"
#include "board/log.h"
#include "board/transmitter.h"
#include "protocol/frame.h"

namespace vx::board {

inline constexpr Micros kFrameIdle{100000};
inline constexpr unsigned kBitsPerByte = 10;  // start, 8 data, stop
inline constexpr unsigned kBitsPerByteWithParity = 11;

struct LineModel {
  unsigned baud = 0;  // 0: no line time at all
  unsigned bits_per_byte = kBitsPerByte;
  bool wire_paced = false;  // a real serial device, whose UART takes the line time both ways
  Millis think{0};

  Micros byte_time() const;  // of one character on the wire; zero without a baud rate
};

struct SessionCounts {
  std::uint64_t telegrams = 0;  // request frames for this board
  std::uint64_t answered = 0;   // answers handed to the transmitter
  std::uint64_t ignored = 0;    // frames not for this board
  std::uint64_t rejected = 0;   // input bytes the receiver threw away
};

class Session {
 public:
  Session(Board& board, FaultPlan faults, LineModel model, Log log = Log());

  void receive(Micros now, const std::uint8_t* p, std::size_t n);

  Transmitter& transmitter() { return transmitter_; }
  const Log& log() const { return log_; }
  const SessionCounts& counts() const { return counts_; }

 private:
  void on_frame(Micros now, const Bytes& frame);
  Micros answer_time(Micros now, std::size_t request_size) const;

  Board& board_;
  FaultPlan faults_;
  LineModel model_;
  Log log_;
  ft12::Receiver receiver_;
  Transmitter transmitter_;
  Micros last_input_{0};
  SessionCounts counts_;
};

// True when a frame is a request addressed to this board: control and address 0x7F, then the tag bytes.
bool is_request_for_board(const Bytes& frame);
// The user data after the tag bytes, up to the checksum.
std::string_view request_text(const Bytes& frame);

}  // namespace vx::board
