// Machine-readable events for programs that drive vexal (VEXAL_EVENTS).
//
// VEXAL_EVENTS=N (all digits) names a descriptor the caller left open; any other value names a file,
// appended to and created if missing. One JSON object per line, flushed as it is written, "event"
// first:
//   {"event":"start","version":"0.95","port":"/dev/ttyUSB0","pid":1234}
//   {"event":"phase","phase":"loading","file":"firmware.s28"}   (opening and identity have no file)
//   {"event":"identity","id":"VQ-3140 ZARVEN v1.28"}
//   {"event":"progress","phase":"loading","done":65536,"total":237664}
//   {"event":"end","code":0,"error":"","bytes":237664,"seconds":24.81}
// Progress goes out at most every 100 ms per transfer, and always when it reaches its total. A
// descriptor or file that can't be written is reported once on standard error (console/diag.h) and
// the run goes on without events.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "console/transfer.h"

namespace vx {

// A JSON string literal of `text` (quotes, backslash and control characters escaped; other bytes as
// they are, so UTF-8 passes through).
std::string json_string(const std::string& text);

class EventChannel : public TransferView {
 public:
  // From the variable's value; an empty value opens nothing.
  explicit EventChannel(const std::string& where, const Clock& clock = steady_clock());
  ~EventChannel() override;
  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;

  bool open() const { return out_ != nullptr; }

  void start(const std::string& version, const std::string& port, long pid);
  void end(int code, const std::string& error, std::int64_t bytes, Micros run_time);

  void phase_started(Phase phase, const std::string& file) override;
  void progress(const TransferProgress& p) override;
  void identity(const std::string& id) override;

 private:
  void write(const std::string& line);

  std::FILE* out_ = nullptr;
  std::string where_;
  const Clock& clock_;
  Micros last_progress_{Millis(-1000)};
};

}  // namespace vx
