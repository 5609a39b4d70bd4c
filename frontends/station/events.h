// What a vexal run tells the station about itself: the VEXAL_EVENTS stream, one JSON object a line.
//
// The stream arrives in pieces of any size on a pipe; EventLines cuts it into lines (a line longer
// than kMaxEventLine is thrown away whole, so a runaway writer can't grow the station's memory), and
// parse_event reads one line into an Event. Keys the station doesn't know are ignored and so are
// events of an unknown kind, so a newer vexal can say more; a line that isn't a JSON object with a
// string "event" is no event at all.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vx::station {

enum class EventKind { Start, Phase, Identity, Progress, End, Other };

struct Event {
  EventKind kind = EventKind::Other;
  std::string phase;       // phase, progress
  std::string file;        // phase (loading, reading, writing, verifying)
  std::string text;        // start: version; identity: id; end: error
  std::string port;        // start
  std::int64_t done = 0;   // progress
  std::int64_t total = 0;  // progress
  std::int64_t bytes = 0;  // end
  int code = 0;            // end
  double seconds = 0;      // end
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
