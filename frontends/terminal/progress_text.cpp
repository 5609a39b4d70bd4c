#include "frontends/terminal/progress_text.h"

#include <cmath>

namespace vx {
namespace {

constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr double kMicrosPerSecond = 1e6;
constexpr double kBytesPerKilobyte = 1000;
constexpr int kTenths = 10;

std::string formatted(const char* format, double value) {
  char text[48];
  const int n = std::snprintf(text, sizeof text, format, value);
  return n > 0 && static_cast<std::size_t>(n) < sizeof text ? std::string(text) : std::string("?");
}

std::string two_digits(std::int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string left_text(const TransferProgress& p) {
  const auto left = p.left();
  return left ? time_text(*left) + " left" : std::string("time left unknown");
}

}  // namespace

std::string rate_text(double bytes_per_second) { return formatted("%.0f B/s", bytes_per_second); }

std::string time_text(Micros t) {
  const std::int64_t s = std::llround(static_cast<double>(t.count()) / kMicrosPerSecond);
  if (s < kSecondsPerMinute) return std::to_string(s) + " s";
  if (s < kSecondsPerHour) return std::to_string(s / kSecondsPerMinute) + ":" + two_digits(s % kSecondsPerMinute);
  return std::to_string(s / kSecondsPerHour) + ":" + two_digits(s % kSecondsPerHour / kSecondsPerMinute) + ":" +
         two_digits(s % kSecondsPerMinute);
}

std::vector<std::string> status_tails(const TransferProgress& p) {
  const std::string bytes = std::to_string(p.done) + "/" + std::to_string(p.total) + " B";
  const std::string rate = rate_text(p.bytes_per_second()), left = left_text(p);
  const std::string percent = std::to_string(p.percent()) + "%";
  return {"  [" + p.file + " " + bytes + ", " + rate + ", " + left + "]",
          "  [" + bytes + ", " + rate + ", " + left + "]", "  [" + percent + ", " + rate + ", " + left + "]",
          "  [" + percent + "]"};
}

std::string summary_line(const std::string& program, std::int64_t bytes, Micros run_time) {
  const double seconds = static_cast<double>(run_time.count()) / kMicrosPerSecond;
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds / kBytesPerKilobyte : 0;
  return program + ": " + std::to_string(bytes) + " bytes in " + formatted("%.1f s", seconds) + " (" +
         formatted("%.1f kB/s", rate) + ")";
}

void ProgressLines::phase_started(Phase phase, const std::string&) {
  if (phase != Phase::Opening && phase != Phase::Identity) tenths_shown_.push_back(0);
}

void ProgressLines::transfer_ended() {
  if (!tenths_shown_.empty()) tenths_shown_.pop_back();
}

void ProgressLines::progress(const TransferProgress& p) {
  if (tenths_shown_.empty() || p.total <= 0) return;
  const int tenths = p.percent() / kTenths;
  if (tenths <= tenths_shown_.back()) return;
  tenths_shown_.back() = tenths;
  std::fprintf(out_, "%s: %s %s: %d%% (%lld of %lld bytes, %s, %s)\n", program_.c_str(), phase_name(p.phase),
               p.file.c_str(), tenths * kTenths, static_cast<long long>(p.done), static_cast<long long>(p.total),
               rate_text(p.bytes_per_second()).c_str(), left_text(p).c_str());
  std::fflush(out_);
}

}  // namespace vx
