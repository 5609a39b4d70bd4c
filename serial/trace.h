// The frame trace: every frame sent and every byte received, for finding out what went wrong on a line.
//
// With the run's settings naming a file (VEXAL_TRACE, serial/settings.h), the link opens it for appending when the port
// is attached and the exchange layer reports each frame it sent and each read window's bytes; the port's reader reports
// the bytes it drops after an answer that ended its window early. One line each, written and flushed as it happens, so
// the trace is complete up to the moment a run stopped, whatever stopped it:
//
//       12.503 tx   68 0C 0C 68 7F 7F 47 F5 49 30 30 30 30 30 30 0A AD 16  | "I000000\n"
//       14.271 rx   68 18 18 68 08 7F 47 F5 56 51 ... B4 16  | "VQ-3140 ZARVEN v1.28"
//
// Milliseconds since the trace was opened (a frame once it has left the port, received bytes when their
// window closed), the direction (tx, rx, drop), the bytes in hex and, for a frame whose text is
// printable, the text quoted with C escapes: bytes and text as the simulator's log shows them (one rule
// for both, protocol/hex.h and protocol/text.h), so the two can be laid side by side. An empty read
// window is a line of its own: silence is often the answer worth seeing.
//
// The trace never fails a run and never shows in the console: a file that can't be opened or written
// is reported once on standard error (diagnostic) and the run goes on untraced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "serial/port.h"

namespace vx {

// One trace file.
class FrameTrace {
 public:
  FrameTrace(const std::string& path, const Clock& clock);
  ~FrameTrace();
  FrameTrace(const FrameTrace&) = delete;
  FrameTrace& operator=(const FrameTrace&) = delete;

  bool active() const { return file_ != nullptr; }
  void sent(const std::uint8_t* p, std::size_t n, bool completed);
  void received(const std::uint8_t* p, std::size_t n);
  void dropped(const std::uint8_t* p, std::size_t n);

 private:
  void write(std::string_view direction, const std::uint8_t* p, std::size_t n, std::string_view note);
  void give_up();

  std::string path_;
  const Clock& clock_;
  Micros start_;
  std::FILE* file_ = nullptr;
};

// The parts of a line, for the trace and its tests.
std::string trace_line(Micros since_start, std::string_view direction, const std::uint8_t* p, std::size_t n,
                       std::string_view note);
// The text of a complete frame at the start of p[0..n) whose text is printable (tabs and line ends
// escaped), quoted; empty otherwise.
std::string frame_text(const std::uint8_t* p, std::size_t n);

// The link's trace (a member of its state, serial/link.h): opened on the settings' path when a port is
// attached (no trace for an empty path), closed when it is detached. Called from the loader's thread only.
void trace_open(const std::string& path);
void trace_close();
void trace_sent(const std::uint8_t* p, std::size_t n, bool completed);
void trace_received(const std::uint8_t* p, std::size_t n);
void trace_dropped(const std::uint8_t* p, std::size_t n);

}  // namespace vx
