// The serial port: the only thing that touches the device.
//
// One interface, one back-end per platform (port_posix.cpp, port_win32.cpp), picked by CMake. Tests
// plug in a scripted port through set_port_opener.
//
// The read window: an exchange reads the board's answer until 15 ms pass after a received byte without
// the next one, or `total` after the read began (1 ms per byte asked for + 50 ms, so 306 ms for 256),
// or the buffer is full. ReadWindow states that rule once; collect_window applies it to any ByteSource
// on any Clock, so the POSIX back-end and the scripted tests share the same logic.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vx {

using Millis = std::chrono::milliseconds;

struct ReadWindow {
  Millis inter_byte{15};
  Millis total{306};

  // The Win32 time-outs of a read of `asked` bytes: 15 ms between bytes, asked * 1 + 50 ms in all.
  static ReadWindow for_read_of(std::size_t asked) {
    return ReadWindow{Millis(15), Millis(static_cast<long>(asked) + 50)};
  }
  // How long to wait for the next byte; zero or less means the window has closed.
  Millis wait_for_next(Millis since_start, std::optional<Millis> since_last_byte) const;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Millis now() const = 0;  // monotonic
};
const Clock& steady_clock();

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Waits at most `wait` for bytes and returns how many it put into buf (0: none came in time).
  virtual std::size_t read_some(std::uint8_t* buf, std::size_t n, Millis wait) = 0;
};

// Reads into buf[0..cap) under the window; returns the number of bytes read.
std::size_t collect_window(ByteSource& src, const Clock& clock, std::uint8_t* buf, std::size_t cap,
                           const ReadWindow& window);

enum class Parity { None, Odd, Even };

struct LineSettings {
  unsigned baud = 38400;
  Parity parity = Parity::None;
};

class Port {
 public:
  virtual ~Port() = default;
  // Writes the frame and waits until it has left (bounded by `limit`); false when it did not.
  virtual bool write_frame(const std::uint8_t* data, std::size_t n, Millis limit) = 0;
  // One answer window into buf[0..cap); returns the bytes read. Bytes that came before are read first.
  virtual std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) = 0;
};

struct OpenResult {
  std::unique_ptr<Port> port;  // null on failure
  std::string why;             // the reason, for standard error
};

// Opens "COM1" or "COM2" with the line settings (the platform decides which device that is).
using PortOpener = std::function<OpenResult(const std::string& com_name, const LineSettings&)>;
OpenResult open_platform_port(const std::string& com_name, const LineSettings& settings);
void set_port_opener(PortOpener opener);  // empty: the platform's
OpenResult open_port(const std::string& com_name, const LineSettings& settings);

}  // namespace vx
