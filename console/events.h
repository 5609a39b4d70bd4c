// Machine-readable events for programs that drive vexal (VEXAL_EVENTS).
//
// VEXAL_EVENTS=N (all digits) names a descriptor the caller left open; any other value names a file,
// appended to and created if missing (a FIFO without a reader is refused at once, console/append_file.h).
// One JSON object per line, flushed as it is written, "event" first:
//   {"event":"start","version":"0.95","port":"/dev/ttyUSB0","pid":1234,"time":"2026-12-09T02:14:23Z"}
//   {"event":"file","role":"command","path":"job.txt","size":120,"sha256":"<64 hex digits>"}
//   {"event":"phase","phase":"loading","file":"firmware.s28"}   (opening and identity have no file)
//   {"event":"identity","id":"VQ-3140 ZARVEN v1.28"}
//   {"event":"progress","phase":"loading","done":65536,"total":237664}
//   {"event":"end","code":0,"error":"","reason":"","bytes":237664,"written":237664,"read":0,
//    "text_retries":0,"block_retries":0,"seconds":24.81,"time":"2026-12-09T02:14:48Z"}
// A "file" event comes at each opening of a command file, a nested one, a memory write's or a verify's
// file ("role": command, nested, binput, verify, load); "size" and "sha256" are the bytes the file held
// then, left out for a FIFO or a device. "end" has the run's error line as the console shows it but with
// the filler blanks of its line breaks taken out, the reason standard error gives (what the console line
// has no room for: the block, its attempts and the answer; why the port could not be opened), the data
// bytes written and read ("bytes" is their sum) and the attempts beyond the first.
// Progress goes out at most every 100 ms per transfer, and always when it reaches its total. A
// descriptor or file that can't be written is reported once on standard error (console/diag.h) and
// the run goes on without events.
//
// Every line is valid JSON whatever the board answers: a byte that is not part of a well-formed UTF-8
// sequence is taken as the Latin-1 character of the same number (0xE9 becomes "é", U+00E9), the
// encoding a board that doesn't speak UTF-8 most likely meant; well-formed UTF-8 passes as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "console/transfer.h"

namespace vx {

// The event kinds and their keys, named here only: every line below is built from these.
namespace event_key {
inline constexpr char kEvent[] = "event";
inline constexpr char kStart[] = "start";
inline constexpr char kFile[] = "file";
inline constexpr char kPhase[] = "phase";
inline constexpr char kIdentity[] = "identity";
inline constexpr char kProgress[] = "progress";
inline constexpr char kEnd[] = "end";

inline constexpr char kVersion[] = "version";
inline constexpr char kPort[] = "port";
inline constexpr char kPid[] = "pid";
inline constexpr char kTime[] = "time";
inline constexpr char kRole[] = "role";
inline constexpr char kPath[] = "path";
inline constexpr char kSize[] = "size";
inline constexpr char kSha256[] = "sha256";
inline constexpr char kPhaseFile[] = "file";
inline constexpr char kId[] = "id";
inline constexpr char kDone[] = "done";
inline constexpr char kTotal[] = "total";
inline constexpr char kCode[] = "code";
inline constexpr char kError[] = "error";
inline constexpr char kReason[] = "reason";
inline constexpr char kBytes[] = "bytes";
inline constexpr char kWritten[] = "written";
inline constexpr char kRead[] = "read";
inline constexpr char kTextRetries[] = "text_retries";
inline constexpr char kBlockRetries[] = "block_retries";
inline constexpr char kSeconds[] = "seconds";
}  // namespace event_key

// The names a "phase" or "progress" event gives the transfer's phases (phase_name, console/transfer.h,
// writes them from here), in the order of the Phase enumerators: each phase once, and no other name.
// A program that reads the events keeps its own list of them; the contract test holds the two together.
namespace event_phase {
struct Named {
  Phase phase;
  const char* name;
};
inline constexpr Named kNames[] = {
    {Phase::Opening, "opening"}, {Phase::Identity, "identity"}, {Phase::Loading, "loading"},
    {Phase::Reading, "reading"}, {Phase::Writing, "writing"},   {Phase::Verifying, "verifying"},
};

// True when kNames holds each enumerator at its own place.
constexpr bool names_every_phase_in_order() {
  for (std::size_t i = 0; i < std::size(kNames); ++i)
    if (kNames[i].phase != static_cast<Phase>(i)) return false;
  return true;
}
static_assert(names_every_phase_in_order(), "a phase without its name, or the names out of order");
}  // namespace event_phase

// `text` as valid UTF-8 by the rule above.
std::string valid_utf8(std::string_view text);

struct RunStart {
  std::string version;
  std::string port;
  long pid = 0;
  std::string time;  // UTC, console/clock.h
};

struct RunEnd {
  int code = 0;
  std::string error;   // the console's error line, filler blanks out; "" on success
  std::string reason;  // what standard error says beyond it, or ""
  RunCounts counts;
  Micros run_time{0};
  std::string time;  // UTC
};

class EventChannel : public TransferView {
 public:
  // From the variable's value; an empty value opens nothing.
  explicit EventChannel(const std::string& where, const Clock& clock = steady_clock());
  ~EventChannel() override;
  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;

  bool open() const { return out_ != nullptr; }

  void start(const RunStart& run);
  void end(const RunEnd& run);

  void phase_started(Phase phase, const std::string& file) override;
  void progress(const TransferProgress& p) override;
  void identity(const std::string& id) override;
  void file_opened(const FileRecord& file) override;

 private:
  void write(const std::string& line);

  std::FILE* out_ = nullptr;
  std::string where_;
  const Clock& clock_;
  Micros last_progress_{Millis(-1000)};
};

}  // namespace vx
