// --limit N: how many more boards may start.
//
// A board starts only while the boards that passed and the boards running are fewer than N, so a board
// that fails makes room for the next, and N passed boards end the run's starting (the boards still
// waiting then end as not started, which is no failure: the run did what it was asked). Without
// --limit (0) every board may start. Pure: told what runs and what ended, it answers.
#pragma once

#include <cstddef>

namespace vx::station {

class BoardQuota {
 public:
  explicit BoardQuota(unsigned limit) : limit_(limit) {}

  // True when one more board may start while `running` boards run.
  bool allows_start(std::size_t running) const { return limit_ == 0 || passed_ + running < limit_; }

  // A board ended (`passed` or not) while the station is `stopping` or not; true when this end reaches
  // the limit while the station isn't stopping (reaching it stops the station, so it is told once).
  bool board_ended(bool passed, bool stopping);

  std::size_t passed() const { return passed_; }
  // The limit was reached: the boards left waiting are no failure.
  bool reached() const { return reached_; }
  unsigned limit() const { return limit_; }

 private:
  unsigned limit_;
  std::size_t passed_ = 0;
  bool reached_ = false;
};

}  // namespace vx::station
