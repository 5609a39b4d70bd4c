// When watch mode lists the ports again (`vexal --list-ports`).
//
// At the start the ports are listed at once. With a device watcher, a change it reports makes a
// listing due kSettle after the change (so that udev has made its links), and never sooner than
// kMinRelist after the last listing: a burst of changes costs one listing. Without a watcher (inotify
// can't be used there) the ports are listed every kFallbackRelist instead. Once the station stops,
// listing stops for good (stop()): nothing is due any more, so the loop never wakes for a listing it
// would not make. The timer is pure: it is told when changes came and when the ports were listed,
// and says when the next listing is due, on times the caller gives (a test's made-up ones).
#pragma once

#include <chrono>
#include <optional>

#include "frontends/station/model/clock.h"

namespace vx::station {

constexpr std::chrono::milliseconds kSettle{300};
constexpr std::chrono::milliseconds kMinRelist{1000};
constexpr std::chrono::milliseconds kFallbackRelist{2000};

class RelistTimer {
 public:
  // `polling`: no device watcher, so the ports are listed every kFallbackRelist.
  explicit RelistTimer(bool polling) : polling_(polling) {}

  // Watch mode begins at `now`: the first listing is due at once.
  void start(SteadyTime now) { due_at_ = now; }

  // The device watcher reported a change at `now`.
  void device_changed(SteadyTime now);

  // True when a listing is due at `now` (the due time is then used up); the caller lists the ports and
  // says so with listed(). Always false after stop().
  bool due(SteadyTime now);

  // The ports were listed at `now`.
  void listed(SteadyTime now) { last_listed_ = now; }

  // When the loop is to wake for the next listing: the due time set by start() or a change, and while
  // polling and not `stopping`, kFallbackRelist after the last listing; the earlier of them, or none.
  // None after stop().
  std::optional<SteadyTime> next(bool stopping) const;

  // The station stops: no more listings, and a due time still pending is dropped (else it stays in
  // the past, and a loop sleeping until it would not sleep at all).
  void stop();

 private:
  bool polling_;
  std::optional<SteadyTime> due_at_;
  SteadyTime last_listed_{};
  bool stopped_ = false;
};

}  // namespace vx::station
