#include "console/transfer.h"

#include <algorithm>
#include <vector>

#include "console/events.h"
#include "console/state.h"

namespace vx {
namespace {

constexpr std::int64_t kFull = 100;
constexpr double kMicrosPerSecond = 1e6;

// Part of the console's state: a fresh run has no transfer, no views and the steady clock.
TransferState& state() { return console().state.transfer; }

const Clock& clock_in_use() { return state().clock ? *state().clock : steady_clock(); }

// A copy: a view may take itself out while it is told.
template <typename Call>
void tell_views(Call call) {
  const std::vector<TransferView*> views = state().views;
  for (TransferView* view : views) call(*view);
}

void tell_progress() {
  TransferState& g = state();
  if (g.stack.empty()) return;
  TransferState::Open& t = g.stack.back();
  t.shown.elapsed = clock_in_use().now() - t.started;
  const TransferProgress now = t.shown;
  tell_views([&](TransferView& v) { v.progress(now); });
}

}  // namespace

// Every enumerator is a case, so a phase added to the enumeration doesn't build before it has a name.
const char* phase_name(Phase phase) {
  switch (phase) {
    case Phase::Opening:
    case Phase::Identity:
    case Phase::Loading:
    case Phase::Reading:
    case Phase::Writing:
    case Phase::Verifying: return event_phase::kNames[static_cast<std::size_t>(phase)].name;
  }
  return event_phase::kNames[static_cast<std::size_t>(Phase::Loading)].name;
}

const char* file_role_name(FileRole role) {
  switch (role) {
    case FileRole::Command: return "command";
    case FileRole::Nested: return "nested";
    case FileRole::Binput: return "binput";
    case FileRole::Verify: return "verify";
    case FileRole::Load: return "load";
  }
  return "command";
}

int TransferProgress::percent() const {
  if (total <= 0) return 0;
  return static_cast<int>(std::clamp<std::int64_t>(done * kFull / total, 0, kFull));
}

double TransferProgress::bytes_per_second() const {
  if (elapsed.count() <= 0) return 0;
  return static_cast<double>(done) * kMicrosPerSecond / static_cast<double>(elapsed.count());
}

std::optional<Micros> TransferProgress::left() const {
  const double rate = bytes_per_second();
  if (rate <= 0) return std::nullopt;
  const double seconds = static_cast<double>(std::max<std::int64_t>(total - done, 0)) / rate;
  return Micros(static_cast<std::int64_t>(seconds * kMicrosPerSecond));
}

void add_transfer_view(TransferView* view) { state().views.push_back(view); }

void remove_transfer_view(TransferView* view) {
  std::vector<TransferView*>& views = state().views;
  views.erase(std::remove(views.begin(), views.end(), view), views.end());
}

void set_transfer_clock(const Clock* clock) { state().clock = clock; }

void transfer_phase(Phase phase) {
  tell_views([&](TransferView& v) { v.phase_started(phase, std::string()); });
}

void transfer_identity(const std::string& id) {
  tell_views([&](TransferView& v) { v.identity(id); });
}

void transfer_file_opened(const FileRecord& file) {
  tell_views([&](TransferView& v) { v.file_opened(file); });
}

void transfer_retried(Retry what) {
  RunCounts& counts = state().counts;
  ++(what == Retry::Text ? counts.text_retries : counts.block_retries);
}

void transfer_begin(Phase phase, const std::string& file, std::int64_t total) {
  TransferState::Open t;
  t.shown.phase = phase;
  t.shown.file = file;
  t.shown.total = std::max<std::int64_t>(total, 0);
  t.started = clock_in_use().now();
  state().stack.push_back(t);
  tell_views([&](TransferView& v) { v.phase_started(phase, file); });
}

void transfer_advance(std::int64_t bytes) {
  TransferState& g = state();
  if (g.stack.empty() || bytes <= 0) return;
  const Phase phase = g.stack.back().shown.phase;
  (phase == Phase::Reading || phase == Phase::Verifying ? g.counts.read : g.counts.written) += bytes;
  g.stack.back().shown.done += bytes;
  tell_progress();
}

void transfer_end() {
  TransferState& g = state();
  if (g.stack.empty()) return;
  g.stack.pop_back();
  tell_views([](TransferView& v) { v.transfer_ended(); });
  if (!g.stack.empty() && g.stack.back().shown.done > 0) tell_progress();
}

RunCounts transfer_counts() { return state().counts; }

Micros transfer_run_time() { return clock_in_use().now() - state().run_started; }

void transfer_reset() {
  TransferState& g = state();
  g.stack.clear();
  g.counts = RunCounts{};
  g.run_started = clock_in_use().now();
}

}  // namespace vx
