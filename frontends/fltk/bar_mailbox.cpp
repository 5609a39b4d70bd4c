#include "frontends/fltk/bar_mailbox.h"

#include <algorithm>
#include <utility>

namespace vxw {

std::string bar_label(const BarState& state) { return state.file + " " + std::to_string(state.percent) + "%"; }

BarMailbox::BarMailbox(Wake wake) : wake_(std::move(wake)) {}

void BarMailbox::show(const std::string& file_name) {
  std::lock_guard<std::mutex> hold(lock_);
  BarState wanted = wanted_;
  wanted.shown = true;
  wanted.file = file_name;
  update(wanted);
}

// The interpreter may count more lines than the file has line feeds; the bar then stays full.
void BarMailbox::set_position(int percent) {
  std::lock_guard<std::mutex> hold(lock_);
  BarState wanted = wanted_;
  wanted.percent = std::clamp(percent, kBarEmpty, kBarFull);
  update(wanted);
}

// A hidden bar starts empty when it comes back, as a newly made one would.
void BarMailbox::hide() {
  std::lock_guard<std::mutex> hold(lock_);
  update(BarState{});
}

// Called with the lock held. Posting under the lock is safe: the wake only queues a request and
// never waits for the GUI thread.
void BarMailbox::update(const BarState& wanted) {
  if (wanted == wanted_) return;
  wanted_ = wanted;
  changed_ = true;
  if (!wake_pending_ && wake_) wake_pending_ = wake_();
}

std::optional<BarState> BarMailbox::take() {
  std::lock_guard<std::mutex> hold(lock_);
  wake_pending_ = false;
  if (!changed_) return std::nullopt;
  changed_ = false;
  return wanted_;
}

}  // namespace vxw
