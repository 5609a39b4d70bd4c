// The telegram frame: IEC 60870-5-1 variable-length frame, format class FT 1.2. Pure: bytes in, bytes out.
//
//   offset 0      start 0x68
//          1, 2   L, L: bytes from offset 4 up to and including offset L+3
//          3      start 0x68
//          4, 5   control, address (0x7F 0x7F in every request)
//          6..    user data (a request: 0x47 0xF5, then the command text)
//          L+4    checksum: sum of offsets 4..L+3, modulo 256
//          L+5    end 0x16
//
// A frame is L+6 bytes; both frame buffers hold 256, so L is at most 250. The answer text of an answer
// frame is offsets 8 .. L+3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vx::ft12 {

inline constexpr std::uint8_t kStart = 0x68;
inline constexpr std::uint8_t kEnd = 0x16;
inline constexpr std::uint8_t kControl = 0x7F;
inline constexpr std::uint8_t kAddress = 0x7F;
inline constexpr std::uint8_t kAnswerControl = 0x08;  // what the simulator puts in its answers
inline constexpr std::uint8_t kUserTag0 = 0x47;       // the two user-data bytes before the text
inline constexpr std::uint8_t kUserTag1 = 0xF5;
inline constexpr std::size_t kBufSize = 256;
inline constexpr std::size_t kHeaderSize = 4;   // start, L, L, start
inline constexpr std::size_t kTrailerSize = 2;  // checksum, end
inline constexpr std::size_t kOverhead = kHeaderSize + kTrailerSize;
inline constexpr unsigned kMaxL = kBufSize - kOverhead;
inline constexpr std::size_t kControlAt = kHeaderSize;
inline constexpr std::size_t kAddressAt = kControlAt + 1;
inline constexpr std::size_t kTagAt = kAddressAt + 1;                  // the two user-data tag bytes
inline constexpr unsigned kMinAnswerL = 4;                             // control, address, the two tag bytes
inline constexpr std::size_t kTextOffset = kHeaderSize + kMinAnswerL;  // the text starts here
inline constexpr std::size_t kPrefixSize = kTextOffset;
// The longest text one frame carries, a request's command text or an answer's text alike: 246.
inline constexpr std::size_t kMaxText = kMaxL - kMinAnswerL;

// The eight bytes that begin every request; the two 0x01 bytes stand for L. As a zero-terminated string
// every byte must be non-zero, since requests are measured with strlen.
inline constexpr char kPrefix[kPrefixSize + 1] = {static_cast<char>(kStart),
                                                  0x01,
                                                  0x01,
                                                  static_cast<char>(kStart),
                                                  static_cast<char>(kControl),
                                                  static_cast<char>(kAddress),
                                                  static_cast<char>(kUserTag0),
                                                  static_cast<char>(kUserTag1),
                                                  0};

std::uint8_t checksum(const std::uint8_t* p, std::size_t n);

// Writes L (delka-6) at offsets 1 and 2, the checksum at delka-2 and the end byte at delka-1.
void complete_frame(std::uint8_t* frame, std::size_t delka);

// L of a received answer, as the loader reads it (offset 1, unsigned; 0 when nothing came).
inline unsigned answer_L(const std::uint8_t* rbuf) { return rbuf[1]; }

// True when an answer frame is complete in the first n bytes: L at most kMaxL and the end byte at L+5.
bool answer_complete(const std::uint8_t* rbuf, std::size_t n);

// A whole frame around user data (control and address first).
std::vector<std::uint8_t> make_frame(const std::uint8_t* user, std::size_t n, std::uint8_t control = kControl,
                                     std::uint8_t address = kAddress);
// The exact request the loader sends for a command text, and an answer frame carrying a text.
std::vector<std::uint8_t> text_request(std::string_view text);
std::vector<std::uint8_t> text_answer(std::string_view text, std::uint8_t control = kAnswerControl);

// FT 1.2 receiver, as the board runs it: feed bytes, take complete frames. Bytes that don't start a
// frame, and frames that fail a check (both L equal, second start, checksum, end byte), are reported
// as rejected and get no answer.
class Receiver {
 public:
  struct Event {
    enum class Kind { Frame, Rejected } kind;
    std::vector<std::uint8_t> bytes;
    const char* why;  // for Rejected
  };
  // Appends bytes; returns what became complete, in order.
  std::vector<Event> feed(const std::uint8_t* p, std::size_t n);
  // Drops a partly received frame (the line was idle too long).
  void reset() { pending_.clear(); }
  bool idle() const { return pending_.empty(); }

 private:
  std::vector<std::uint8_t> pending_;
};

}  // namespace vx::ft12
