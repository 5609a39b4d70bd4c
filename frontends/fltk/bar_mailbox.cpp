#include "frontends/fltk/bar_mailbox.h"

#include <algorithm>
#include <utility>

namespace vxw {

std::string bar_label(const BarState& state) { return state.file + " " + std::to_string(state.percent) + "%"; }

BarMailbox::BarMailbox(Wake wake) : wake_(std::move(wake)) {}

namespace {

bool moves_data(vx::Phase phase) { return phase != vx::Phase::Opening && phase != vx::Phase::Identity; }

// "verifying fw.s28", or the phase alone for a transfer without a file (a memory range).
std::string transfer_label(vx::Phase phase, const std::string& file) {
  const std::size_t slash = file.find_last_of('/');
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  return name.empty() ? vx::phase_name(phase) : std::string(vx::phase_name(phase)) + " " + name;
}

}  // namespace

void BarMailbox::show(const std::string& file_name) {
  std::lock_guard<std::mutex> hold(lock_);
  lines_.shown = true;
  lines_.file = file_name;
  update_shown();
}

// The interpreter may count more lines than the file has line feeds; the bar then stays full.
void BarMailbox::set_position(int percent) {
  std::lock_guard<std::mutex> hold(lock_);
  lines_.percent = std::clamp(percent, kBarEmpty, kBarFull);
  update_shown();
}

// A hidden bar starts empty when it comes back, as a newly made one would.
void BarMailbox::hide() {
  std::lock_guard<std::mutex> hold(lock_);
  lines_ = BarState{};
  update_shown();
}

// Every transfer begins with its phase (a phase that moves no data is no transfer).
void BarMailbox::phase_started(vx::Phase phase, const std::string& file) {
  if (!moves_data(phase)) return;
  std::lock_guard<std::mutex> hold(lock_);
  cut_short_.reset();
  transfers_.push_back(Transfer{BarState{true, kBarEmpty, transfer_label(phase, file)}});
  update_shown();
}

void BarMailbox::progress(const vx::TransferProgress& progress) {
  std::lock_guard<std::mutex> hold(lock_);
  if (transfers_.empty() || progress.total <= 0) return;
  transfers_.back().bar.percent = std::clamp(progress.percent(), kBarEmpty, kBarFull);
  transfers_.back().measured = true;
  update_shown();
}

void BarMailbox::transfer_ended() {
  std::lock_guard<std::mutex> hold(lock_);
  if (transfers_.empty()) return;
  const Transfer& ended = transfers_.back();
  // The innermost one cut short is where a failure stopped: the outer ones end after it, on the way out.
  if (ended.measured && ended.bar.percent < kBarFull && !cut_short_)
    cut_short_ = ended.bar;
  else if (ended.measured && ended.bar.percent >= kBarFull)
    cut_short_.reset();
  transfers_.pop_back();
  update_shown();
}

void BarMailbox::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  lines_ = wanted_ = BarState{};
  transfers_.clear();
  cut_short_.reset();
  changed_ = false;
}

BarState BarMailbox::stopped_at() {
  std::lock_guard<std::mutex> hold(lock_);
  return cut_short_ ? *cut_short_ : lines_;
}

void BarMailbox::update_shown() {
  auto measured = std::find_if(transfers_.rbegin(), transfers_.rend(), [](const Transfer& t) { return t.measured; });
  update(measured == transfers_.rend() ? lines_ : measured->bar);
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
