// What a vexal run tells the station about itself: the VEXAL_EVENTS stream, one JSON object a line.
//
// The stream arrives in pieces of any size on a pipe; EventLines cuts it into lines (a line longer
// than kMaxEventLine is thrown away whole, so a runaway writer can't grow the station's memory), and
// parse_event reads one line into an Event. Keys the station doesn't know are ignored and so are
// events of an unknown kind, so a newer vexal can say more; a line that isn't a JSON object with a
// string "event" is no event at all. Fields an older vexal doesn't write (the "file" event; the end
// event's reason, bytes written and read apart, retries) are left unset, never taken as 0, so the
// report can tell "none" from "not said".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vx::station {

enum class EventKind { Start, Phase, Identity, Progress, File, End, Other };

using Count = std::optional<std::int64_t>;  // a number the event may not hold

struct Event {
  EventKind kind = EventKind::Other;
  std::string phase;                  // phase, progress
  std::string file;                   // phase (loading, reading, writing, verifying)
  std::string text;                   // start: version; identity: id; end: error
  std::string port;                   // start
  std::int64_t done = 0;              // progress
  std::int64_t total = 0;             // progress
  Count bytes;                        // end: data bytes sent and received together
  int code = 0;                       // end
  double seconds = 0;                 // end
  std::string role;                   // file: command, nested, binput, verify, load
  std::string path;                   // file: as the job named it
  Count size;                         // file (unset for a FIFO or a terminal)
  std::string sha256;                 // file: 64 hexadecimal digits, "" with size unset
  std::string reason;                 // end: why, as vexal's standard error says it (block, attempts, answer; the port)
  Count written, read;                // end: data bytes sent and received
  Count text_retries, block_retries;  // end: repeated attempts
};

std::optional<Event> parse_event(std::string_view line);

class EventLines {
 public:
  static constexpr std::size_t kMaxEventLine = 64 * 1024;

  // Hands every line completed by `data` (without its line feed) to `line`.
  void feed(std::string_view data, const std::function<void(std::string_view)>& line);

 private:
  std::string partial_;
  bool overlong_ = false;  // the line being received passed kMaxEventLine: dropped up to its end
};

}  // namespace vx::station
