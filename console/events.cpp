#include "console/events.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console/append_file.h"
#include "console/diag.h"

#ifdef _WIN32
#include <io.h>
#define vx_fdopen _fdopen
#define vx_dup _dup
#define vx_close _close
#else
#include <unistd.h>
#define vx_fdopen fdopen
#define vx_dup dup
#define vx_close close
#endif

namespace vx {
namespace {

constexpr Millis kProgressInterval{100};
constexpr double kMicrosPerSecond = 1e6;
constexpr char kHexDigits[] = "0123456789abcdef";

bool all_digits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Our own copy of the caller's descriptor, so closing the stream leaves theirs alone.
std::FILE* open_descriptor(const std::string& number) {
  const int fd = vx_dup(std::atoi(number.c_str()));
  if (fd < 0) return nullptr;
  std::FILE* f = vx_fdopen(fd, "a");
  if (!f) static_cast<void>(vx_close(fd));  // nothing was written through it: its close can't lose data
  return f;
}

std::string seconds_text(Micros t) {
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%.2f", static_cast<double>(t.count()) / kMicrosPerSecond);
  return n > 0 && static_cast<std::size_t>(n) < sizeof text ? std::string(text) : std::string("0");
}

std::string quoted(const char* key) { return json_string(key) + ":"; }

}  // namespace

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

EventChannel::EventChannel(const std::string& where, const Clock& clock) : where_(where), clock_(clock) {
  if (where.empty()) return;
  out_ = all_digits(where) ? open_descriptor(where) : open_for_appending(where);
  if (!out_) diagnostic("can't write events to " + where + ": " + append_failure_reason(errno));
}

EventChannel::~EventChannel() {
  // Every line was flushed as it was written and a failing one was reported then.
  if (out_) static_cast<void>(std::fclose(out_));
}

void EventChannel::write(const std::string& line) {
  if (!out_) return;
  if (std::fputs(line.c_str(), out_) >= 0 && std::fputs("\n", out_) >= 0 && std::fflush(out_) == 0) return;
  diagnostic("can't write events to " + where_ + ": " + std::strerror(errno));
  static_cast<void>(std::fclose(out_));  // the channel is given up: what its close says changes nothing
  out_ = nullptr;
}

void EventChannel::start(const std::string& version, const std::string& port, long pid) {
  write("{" + quoted("event") + "\"start\"," + quoted("version") + json_string(version) + "," + quoted("port") +
        json_string(port) + "," + quoted("pid") + std::to_string(pid) + "}");
}

void EventChannel::end(int code, const std::string& error, std::int64_t bytes, Micros run_time) {
  write("{" + quoted("event") + "\"end\"," + quoted("code") + std::to_string(code) + "," + quoted("error") +
        json_string(error) + "," + quoted("bytes") + std::to_string(bytes) + "," + quoted("seconds") +
        seconds_text(run_time) + "}");
}

void EventChannel::phase_started(Phase phase, const std::string& file) {
  std::string line = "{" + quoted("event") + "\"phase\"," + quoted("phase") + json_string(phase_name(phase));
  if (!file.empty()) line += "," + quoted("file") + json_string(file);
  write(line + "}");
  last_progress_ = Millis(-1000);
}

void EventChannel::progress(const TransferProgress& p) {
  const Micros now = clock_.now();
  if (p.done < p.total && now - last_progress_ < kProgressInterval) return;
  last_progress_ = now;
  write("{" + quoted("event") + "\"progress\"," + quoted("phase") + json_string(phase_name(p.phase)) + "," +
        quoted("done") + std::to_string(p.done) + "," + quoted("total") + std::to_string(p.total) + "}");
}

void EventChannel::identity(const std::string& id) {
  write("{" + quoted("event") + "\"identity\"," + quoted("id") + json_string(id) + "}");
}

}  // namespace vx
