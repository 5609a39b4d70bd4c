// The progress bar's hand-over from the loader's thread to the GUI thread.
//
// The loader calls show / set_position / hide on its own thread, but only the GUI thread may touch
// widgets. So each call only records the state the bar should have, under a lock, and asks the GUI
// thread to come and apply it (the `wake` function, which posts to the event loop). At most one such
// request is outstanding: a firmware file of thousands of lines would otherwise fill the event
// loop's queue with positions nobody sees. The GUI thread takes the latest state, which may skip
// intermediate positions; the window's 200 ms tick takes it too, so a request the queue refused
// (wake returned false) costs at most one tick of delay.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "console/progress.h"

namespace vxw {

inline constexpr int kBarEmpty = 0;
inline constexpr int kBarFull = 100;

struct BarState {
  bool shown = false;
  int percent = kBarEmpty;  // always within kBarEmpty..kBarFull
  std::string file;         // the command file the bar follows, for its label
  bool operator==(const BarState&) const = default;
};

// The bar's label: the file's name and the percentage ("job.txt 45%").
std::string bar_label(const BarState& state);

class BarMailbox : public vx::ProgressView {
 public:
  // Posts a request to the GUI thread; false when it could not be posted.
  using Wake = std::function<bool()>;
  explicit BarMailbox(Wake wake);

  void show(const std::string& file_name) override;
  void set_position(int percent) override;
  void hide() override;

  // GUI thread: the state to apply when it changed since the last take.
  std::optional<BarState> take();

 private:
  void update(const BarState& wanted);

  std::mutex lock_;
  BarState wanted_;
  bool changed_ = false;
  bool wake_pending_ = false;
  Wake wake_;
};

}  // namespace vxw
