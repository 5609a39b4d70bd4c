#include "serial/trace.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "console/append_file.h"
#include "console/diag.h"
#include "protocol/frame.h"
#include "protocol/hex.h"
#include "protocol/text.h"
#include "serial/link.h"

namespace vx {
namespace {

constexpr double kMicrosPerMilli = 1000.0;
constexpr int kDirectionWidth = 4;
constexpr char kNothingCame[] = "nothing received";
constexpr char kWriteIncomplete[] = "write not completed";
constexpr char kDroppedNote[] = "after an answer frame, dropped";

std::string joined(std::string_view first, std::string_view second) {
  if (first.empty()) return std::string(second);
  if (second.empty()) return std::string(first);
  return std::string(first) + "; " + std::string(second);
}

}  // namespace

std::string frame_text(const std::uint8_t* p, std::size_t n) {
  if (n < ft12::kTextOffset || p[0] != ft12::kStart || !ft12::answer_complete(p, n)) return {};
  const unsigned L = ft12::answer_L(p);
  if (L < ft12::kMinAnswerL) return {};
  const std::string_view text(reinterpret_cast<const char*>(p) + ft12::kTextOffset,
                              L + ft12::kOverhead - 2 - ft12::kTextOffset);
  return quoted_text(text).value_or(std::string());
}

std::string trace_line(Micros since_start, std::string_view direction, const std::uint8_t* p, std::size_t n,
                       std::string_view note) {
  char head[48];
  const int w =
      std::snprintf(head, sizeof head, "%10.3f %-*.*s", static_cast<double>(since_start.count()) / kMicrosPerMilli,
                    kDirectionWidth, static_cast<int>(direction.size()), direction.data());
  std::string line = (w > 0 && static_cast<std::size_t>(w) < sizeof head) ? head : "?";
  if (n) line.append(" ").append(hex_pairs(p, n, " "));
  if (!note.empty()) line.append("  | ").append(note);
  line.push_back('\n');
  return line;
}

FrameTrace::FrameTrace(const std::string& path, const Clock& clock)
    : path_(path), clock_(clock), start_(clock.now()), file_(open_for_appending(path)) {
  if (!file_) {
    diagnostic("can't open the trace file " + path_ + ": " + append_failure_reason(errno) +
               "; the run goes on without a trace");
    return;
  }
  write("note", nullptr, 0, "trace opened " + utc_timestamp());
}

FrameTrace::~FrameTrace() {
  if (file_ && std::fclose(file_) != 0) diagnostic("can't close the trace file " + path_ + ": " + std::strerror(errno));
}

void FrameTrace::sent(const std::uint8_t* p, std::size_t n, bool completed) {
  write("tx", p, n, joined(frame_text(p, n), completed ? "" : kWriteIncomplete));
}

void FrameTrace::received(const std::uint8_t* p, std::size_t n) {
  write("rx", p, n, n ? frame_text(p, n) : kNothingCame);
}

void FrameTrace::dropped(const std::uint8_t* p, std::size_t n) { write("drop", p, n, kDroppedNote); }

void FrameTrace::write(std::string_view direction, const std::uint8_t* p, std::size_t n, std::string_view note) {
  if (!file_) return;
  const std::string line = trace_line(clock_.now() - start_, direction, p, n, note);
  if (std::fputs(line.c_str(), file_) == EOF || std::fflush(file_) != 0) give_up();
}

// Said once: the file is closed and later lines are not attempted.
void FrameTrace::give_up() {
  const int err = errno;
  // What could be written is flushed or lost already; the close can tell nothing more.
  static_cast<void>(std::fclose(file_));
  file_ = nullptr;
  diagnostic("can't write the trace file " + path_ + ": " + std::strerror(err) + "; the trace stops, the run goes on");
}

void trace_open(const std::string& path) {
  std::unique_ptr<FrameTrace>& trace = link_state().trace;
  trace.reset();
  if (!path.empty()) trace = std::make_unique<FrameTrace>(path, steady_clock());
}

void trace_close() { link_state().trace.reset(); }

void trace_sent(const std::uint8_t* p, std::size_t n, bool completed) {
  if (FrameTrace* trace = link_state().trace.get()) trace->sent(p, n, completed);
}

void trace_received(const std::uint8_t* p, std::size_t n) {
  if (FrameTrace* trace = link_state().trace.get()) trace->received(p, n);
}

void trace_dropped(const std::uint8_t* p, std::size_t n) {
  if (FrameTrace* trace = link_state().trace.get()) trace->dropped(p, n);
}

}  // namespace vx
