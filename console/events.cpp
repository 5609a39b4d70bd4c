#include "console/events.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

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

namespace key = event_key;
// Keys in the order they are set, so "event" leads every line.
using Json = nlohmann::ordered_json;

constexpr Millis kProgressInterval{100};
constexpr double kMicrosPerSecond = 1e6;
constexpr double kHundredths = 100.0;

// UTF-8's lead bytes and what each announces: the sequence's length, the lead's payload bits and the
// smallest code point that length may carry (a smaller one is an overlong form).
struct Utf8Lead {
  unsigned char mask, pattern;
  std::size_t length;
  std::uint32_t smallest;
};
constexpr Utf8Lead kLeads[] = {{0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
constexpr unsigned char kContinuationMask = 0xC0, kContinuation = 0x80, kContinuationBits = 0x3F;
constexpr unsigned char kAscii = 0x80;
constexpr std::uint32_t kLargestCodePoint = 0x10FFFF, kSurrogatesFrom = 0xD800, kSurrogatesTo = 0xDFFF;
constexpr unsigned char kTwoByteLead = 0xC0;
constexpr int kContinuationShift = 6;

// The length of the well-formed UTF-8 sequence `text` starts with; 0 when it starts with none.
std::size_t utf8_sequence(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < kAscii) return 1;
  for (const Utf8Lead& form : kLeads) {
    if ((lead & form.mask) != form.pattern) continue;
    if (text.size() < form.length) return 0;
    std::uint32_t code = lead & static_cast<unsigned char>(~form.mask);
    for (std::size_t i = 1; i < form.length; ++i) {
      const auto next = static_cast<unsigned char>(text[i]);
      if ((next & kContinuationMask) != kContinuation) return 0;
      code = code << kContinuationShift | (next & kContinuationBits);
    }
    const bool surrogate = code >= kSurrogatesFrom && code <= kSurrogatesTo;
    return code < form.smallest || code > kLargestCodePoint || surrogate ? 0 : form.length;
  }
  return 0;
}

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

double seconds_of(Micros t) {
  return std::round(static_cast<double>(t.count()) / kMicrosPerSecond * kHundredths) / kHundredths;
}

std::string line_of(const Json& event) {
  // Every text went through valid_utf8: the replacement is never needed, it only keeps a line whole.
  return event.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t n = utf8_sequence(text);
    if (n > 0) {
      out.append(text.substr(0, n));
      text.remove_prefix(n);
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[0]);
    out.push_back(static_cast<char>(kTwoByteLead | byte >> kContinuationShift));
    out.push_back(static_cast<char>(kContinuation | (byte & kContinuationBits)));
    text.remove_prefix(1);
  }
  return out;
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
  diagnostic("can't write events to " + where_ + ": " + append_failure_reason(errno));
  static_cast<void>(std::fclose(out_));  // the channel is given up: what its close says changes nothing
  out_ = nullptr;
}

void EventChannel::start(const RunStart& run) {
  write(line_of(Json{{key::kEvent, key::kStart},
                     {key::kVersion, valid_utf8(run.version)},
                     {key::kPort, valid_utf8(run.port)},
                     {key::kPid, run.pid},
                     {key::kTime, run.time}}));
}

void EventChannel::end(const RunEnd& run) {
  write(line_of(Json{{key::kEvent, key::kEnd},
                     {key::kCode, run.code},
                     {key::kError, valid_utf8(run.error)},
                     {key::kReason, valid_utf8(run.reason)},
                     {key::kBytes, run.counts.moved()},
                     {key::kWritten, run.counts.written},
                     {key::kRead, run.counts.read},
                     {key::kTextRetries, run.counts.text_retries},
                     {key::kBlockRetries, run.counts.block_retries},
                     {key::kSeconds, seconds_of(run.run_time)},
                     {key::kTime, run.time}}));
}

void EventChannel::file_opened(const FileRecord& file) {
  Json event{{key::kEvent, key::kFile}, {key::kRole, file_role_name(file.role)}, {key::kPath, valid_utf8(file.path)}};
  if (file.size) {
    event[key::kSize] = *file.size;
    event[key::kSha256] = file.sha256;
  }
  write(line_of(event));
}

void EventChannel::phase_started(Phase phase, const std::string& file) {
  Json event{{key::kEvent, key::kPhase}, {key::kPhase, phase_name(phase)}};
  if (!file.empty()) event[key::kPhaseFile] = valid_utf8(file);
  write(line_of(event));
  last_progress_ = Millis(-1000);
}

void EventChannel::progress(const TransferProgress& p) {
  const Micros now = clock_.now();
  if (p.done < p.total && now - last_progress_ < kProgressInterval) return;
  last_progress_ = now;
  write(line_of(Json{{key::kEvent, key::kProgress},
                     {key::kPhase, phase_name(p.phase)},
                     {key::kDone, p.done},
                     {key::kTotal, p.total}}));
}

void EventChannel::identity(const std::string& id) {
  write(line_of(Json{{key::kEvent, key::kIdentity}, {key::kId, valid_utf8(id)}}));
}

}  // namespace vx
