// The serial port: the only thing that touches the device.
//
// One interface, one back-end per platform (port_posix.cpp, port_win32.cpp), picked by CMake, and the
// network port (port_net.cpp) for a device named by URL. Tests plug in a scripted port through
// set_port_opener.
//
// The read window: an exchange reads the board's answer until 15 ms pass after a received byte without
// the next one, or `total` after the read began (1 ms per byte asked for + 50 ms, so 306 ms for 256),
// or the buffer is full. ReadWindow states that rule once; collect_window applies it to any ByteSource
// on any Clock, so the POSIX back-end and the scripted tests share the same logic.
//
// Early end (the default): the window also ends as soon as a complete answer frame is in (L at byte 1,
// the end byte at L+5), instead of waiting out the 15 ms of silence. The result is the same as with the
// full window: an AnswerReader remembers such an early end and, before the next request, reads and
// drops what the full window would still have read (bytes that follow within 15 ms of the last one,
// up to the buffer's 256), and keeps the line idle for 33 bit times after the last byte received. A
// window that ended without a complete frame leaves what comes later queued for the next exchange.
//
// Answers nobody asked for: after a window that held a complete answer, no request is waiting until the
// next one goes out. Bytes found queued then (after the full window's rest, when it ended early or its
// buffer filled behind the answer: what follows within 15 ms still belongs to that window) can't
// be the next request's answer: they are dropped and counted (unsolicited_bytes), so the exchange layer
// can end the run instead of letting answers and requests drift apart (a line that repeats each answer
// a few ms later). The run's last answer has no next request to look before: listen_after_last_answer
// waits until the 15 ms of silence after it would have passed and counts what comes.
//
// Opening: what the port's input holds when it is opened came while no one held it (the answer to a
// request of an earlier run, cut short by Ctrl-C, or given late) and is discarded, as a UART does; the
// platform port then listens for one read window and drops whatever still comes (the rest of such an
// answer) until a window stays silent, so no answer of an earlier run can stand in for this run's first.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/clock.h"
#include "protocol/frame.h"
#include "protocol/line.h"

namespace vx {

// The read window's timing, the Win32 driver's read time-outs, which every platform keeps: the silence
// after a byte that ends the window, and its total, kReadBase and kReadPerByte for every byte asked for.
inline constexpr Millis kByteGap{15};
inline constexpr Millis kReadPerByte{1};
inline constexpr Millis kReadBase{50};
// The longest a write of a frame may take, the Win32 driver's write time-outs: kWriteBase and
// kWritePerByte for every byte.
inline constexpr Millis kWritePerByte{2};
inline constexpr Millis kWriteBase{200};

// The total of a read window for `asked` bytes, and the bound of a write of `n`.
constexpr Millis read_total(std::size_t asked) { return kReadBase + kReadPerByte * static_cast<long>(asked); }
constexpr Millis write_limit(std::size_t n) { return kWriteBase + kWritePerByte * static_cast<long>(n); }

struct ReadWindow {
  Micros inter_byte{kByteGap};
  Micros total{read_total(ft12::kBufSize)};
  bool end_at_frame = false;  // end as soon as a complete answer frame is in

  // The Win32 time-outs of a read of `asked` bytes.
  static ReadWindow for_read_of(std::size_t asked, bool end_at_frame = false) {
    return ReadWindow{kByteGap, read_total(asked), end_at_frame};
  }
  // How long to wait for the next byte; zero or less means the window has closed.
  Micros wait_for_next(Micros since_start, std::optional<Micros> since_last_byte) const;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Waits at most `wait` for bytes and returns how many it put into buf (0: none came in time).
  // A wait of zero takes only what has already arrived.
  virtual std::size_t read_some(std::uint8_t* buf, std::size_t n, Micros wait) = 0;
};

struct WindowResult {
  std::size_t n = 0;            // bytes read
  bool ended_at_frame = false;  // a complete answer frame ended the window early
  Micros start{0};              // when the window began
  std::optional<Micros> last_byte;
};

// Reads into buf[0..cap) under the window. A window also ends at once when the run is interrupted.
WindowResult collect_window(ByteSource& src, const Clock& clock, std::uint8_t* buf, std::size_t cap,
                            const ReadWindow& window);

// Reads answer windows from one source and keeps the line polite between them (see above).
class AnswerReader {
 public:
  AnswerReader(ByteSource& src, const Clock& clock) : src_(src), clock_(clock) {}
  std::size_t read(std::uint8_t* buf, std::size_t cap, const ReadWindow& window);
  // Call before each request goes out, with the request: it is the echo to skip in its answer.
  void settle(Micros idle_gap, const std::uint8_t* request, std::size_t n);
  // Call after the run's last exchange (it costs at most the inter-byte time of the window).
  void listen_after_last_answer(Micros idle_gap);
  // Bytes dropped because they came while no request was waiting for an answer.
  std::size_t unsolicited_bytes() const { return unsolicited_; }

 private:
  // One request's windows and the rest of them dropped, as the line delivered them.
  struct Exchange {
    std::vector<std::uint8_t> request;
    std::uint8_t bytes[3 * ft12::kBufSize] = {};
    std::size_t size = 0;
    void take(const std::uint8_t* p, std::size_t n);
  };
  void drop_rest_of_early_window(Micros idle_gap);
  bool filled_with_answer() const;
  void drop_rest_of_full_buffer();
  bool judge_exchange();
  // Reads and counts as unsolicited what comes until `until` (what is queued already, at least).
  void drop_unsolicited(Micros until);
  ByteSource& src_;
  const Clock& clock_;
  WindowResult last_;
  ReadWindow last_window_;
  std::size_t last_cap_ = 0;
  bool last_held_answer_ = false;  // the last window began with a complete answer frame
  bool answered_before_ = true;    // the request before the last one was answered (or there was none)
  Exchange exchange_;
  std::size_t unsolicited_ = 0;
};

class Port {
 public:
  virtual ~Port() = default;
  // Writes the frame and waits until it has left (bounded by `limit`); false when it did not.
  virtual bool write_frame(const std::uint8_t* data, std::size_t n, Millis limit) = 0;
  // One answer window into buf[0..cap); returns the bytes read. Bytes that came before are read first.
  virtual std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) = 0;
  // Answers nobody asked for (AnswerReader above): the bytes dropped so far, and the listen after the
  // run's last answer. A port without an AnswerReader sees none.
  virtual std::size_t unsolicited_bytes() const { return 0; }
  virtual void listen_after_last_answer() {}
  // Why the port's connection is gone (a network port whose peer closed it or whose network failed);
  // empty while it stands, and always for a device.
  virtual std::string connection_lost() const { return {}; }
};

struct OpenResult {
  std::unique_ptr<Port> port;  // null on failure
  std::string why;             // the reason, for standard error
};

// The device the run's settings (serial/settings.h) name for a COM name: on the command line (--port
// names COM1's; it goes ahead of the platform's choice) or in the environment. Empty when none.
std::string named_port_device(const std::string& com_name);
std::string environment_port_device(const std::string& com_name);

// The device "COM1" or "COM2" opens: the named one, else the platform's (port_posix.cpp: the
// environment's, else /dev/ttyS0 / /dev/ttyS1; port_win32.cpp: the COM name itself).
std::string platform_port_device(const std::string& com_name);

// Opens "COM1" or "COM2" with the line settings (the platform decides which device that is).
using PortOpener = std::function<OpenResult(const std::string& com_name, const LineSettings&)>;
OpenResult open_platform_port(const std::string& com_name, const LineSettings& settings);
void set_port_opener(PortOpener opener);  // empty: the platform's; a fresh link has none
// The platform's port, or the network port a URL names (serial/port_net.h), with its stale input
// dropped (see above); or the test's opener's. A network port whose connection closed during the drop
// (a server that turns the client away) fails to open.
OpenResult open_port(const std::string& com_name, const LineSettings& settings);

// Full read windows whose bytes are dropped, until one stays silent (at least min_windows, at most
// max_windows against a line that never falls silent).
void drop_until_silent(Port& port, int min_windows, int max_windows);

// Clears the open port's exclusive flag and drops its lock, leaving it open: for a process that ends
// without unwinding (a window closed mid-run, a signal). Safe in a signal handler.
void release_port_now() noexcept;

}  // namespace vx
