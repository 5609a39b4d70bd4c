#include "frontends/station/run_record.h"

#include <sys/resource.h>
#include <unistd.h>

#include <ctime>

#include "frontends/station/model/report.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

using std::chrono::milliseconds;

constexpr int kMillisPerSecond = 1000;
constexpr double kMicrosPerSecond = 1e6;
constexpr std::size_t kHostNameRoom = 256;  // more than any host's name: one is 64 at most on Linux

double own_cpu_seconds() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / kMicrosPerSecond;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

std::string host_name() {
  char name[kHostNameRoom] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

std::string utc_now() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  auto millis = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count() % kMillisPerSecond;
  return formatted("%s.%03dZ", text, static_cast<int>(millis));
}

void RunRecord::start(SteadyTime now) {
  started_ = now;
  started_utc_ = utc_now();
}

bool RunRecord::write(const std::vector<const Board*>& boards, SteadyTime now, bool final, Display& display) {
  stale_ = false;
  written_at_ = now;
  if (options_.report_file.empty() && options_.junit_file.empty()) return true;
  RunSummary run{version_,         host_name(),       options_.station, options_.operator_name,
                 options_.job,     options_.identify, started_utc_,     final ? utc_now() : std::string(),
                 since_start(now), own_cpu_seconds(), std::nullopt};
  if (units_) run.database_seconds = units_->seconds_spent();
  bool written = true;
  std::string why;
  if (!options_.report_file.empty() && !write_file_atomically(options_.report_file, json_report(run, boards), why)) {
    display.note("vexal-station: " + why);
    written = false;
  }
  if (!options_.junit_file.empty() && !write_file_atomically(options_.junit_file, junit_report(run, boards), why)) {
    display.note("vexal-station: " + why);
    written = false;
  }
  return written;
}

void RunRecord::write_if_due(const std::vector<const Board*>& boards, SteadyTime now, Display& display) {
  if (!stale_ || now < written_at_ + kReportInterval) return;
  static_cast<void>(write(boards, now, false, display));  // a failure was noted; the next write tries again
}

std::optional<SteadyTime> RunRecord::due_at() const {
  if (!stale_) return std::nullopt;
  return written_at_ + kReportInterval;
}

}  // namespace vx::station
