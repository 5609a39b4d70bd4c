// How the terminal front-end words progress and a run's outcome: the status line's tail on a
// terminal, the plain progress lines and the summary on standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "console/transfer.h"

namespace vx {

std::string rate_text(double bytes_per_second);  // "9381 B/s"
std::string time_text(Micros t);                 // "42 s", "3:07", "1:02:03"

// The status line's tail for a transfer, from the fullest to the shortest; the printer shows the
// first that fits beside the console's line.
std::vector<std::string> status_tails(const TransferProgress& p);

// "vexal: 237664 bytes in 24.8 s (9.6 kB/s)"
std::string summary_line(const std::string& program, std::int64_t bytes, Micros run_time);

// Plain progress for a log: one line on `out` each time a transfer passes a further tenth of its
// total ("vexal: loading fw.s28: 30% (71424 of 237664 bytes, 9381 B/s, 17 s left)"), no carriage
// return, no escape sequence.
class ProgressLines : public TransferView {
 public:
  ProgressLines(std::FILE* out, std::string program) : out_(out), program_(std::move(program)) {}
  void phase_started(Phase phase, const std::string& file) override;
  void progress(const TransferProgress& p) override;
  void transfer_ended() override;

 private:
  std::FILE* out_;
  std::string program_;
  std::vector<int> tenths_shown_;  // per open transfer, innermost last
};

}  // namespace vx
