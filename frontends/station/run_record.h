// The run as the reports tell it: this machine, when the run started and ended, what it cost, and
// the boards, written to --report (JSON) and --junit (JUnit XML).
//
// While boards run the reports are rewritten at most every kReportInterval, once a board ended since
// they were last written (write_if_due), and once more at the end with the end time (write(final)):
// each rewrite costs in proportion to the boards, so one after every board that ends would make the
// station's own cost per board grow with the bench. Each file is replaced whole (report.h's
// write_file_atomically), so a reader never sees half a report.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "frontends/station/model/board.h"
#include "frontends/station/options.h"
#include "frontends/station/unit_keeper.h"
#include "frontends/station/views/display.h"

namespace vx::station {

constexpr std::chrono::milliseconds kReportInterval{1000};

// This machine's name, as the records and reports hold it.
std::string host_name();

// The time now as the records hold it: "2026-12-08T05:08:37.123Z" (UTC, milliseconds).
std::string utc_now();

class RunRecord {
 public:
  // `units`: the run's unit values, whose database time the reports give (nullptr: none kept).
  RunRecord(const Options& options, std::string version, const UnitKeeper* units)
      : options_(options), version_(std::move(version)), units_(units) {}

  // The run starts at `now` (and now, by the wall clock).
  void start(SteadyTime now);

  // Seconds from the start to `now`.
  double since_start(SteadyTime now) const { return std::chrono::duration<double>(now - started_).count(); }

  // A board ended: the reports are behind.
  void board_ended() { stale_ = true; }

  // Writes the reports asked for (none: nothing to write), `final` with the end time; each file that
  // can't be written is noted on `display`. False when one could not be written.
  bool write(const std::vector<const Board*>& boards, SteadyTime now, bool final, Display& display);

  // Writes them when they are behind and kReportInterval has passed since they were last written.
  void write_if_due(const std::vector<const Board*>& boards, SteadyTime now, Display& display);

  // When write_if_due() is to be called next (for the loop's sleep); none when they are up to date.
  std::optional<SteadyTime> due_at() const;

 private:
  const Options& options_;
  std::string version_;
  const UnitKeeper* units_;
  SteadyTime started_{};
  std::string started_utc_;
  bool stale_ = false;  // a board ended since the reports were last written
  SteadyTime written_at_{};
};

}  // namespace vx::station
