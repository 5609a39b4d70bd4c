// The progress bar's hand-over from the loader's thread to the GUI thread.
//
// The loader calls show / set_position / hide on its own thread, but only the GUI thread may touch
// widgets. So each call only records the state the bar should have, under a lock, and asks the GUI
// thread to come and apply it (the `wake` function, which posts to the event loop). At most one such
// request is outstanding: a firmware file of thousands of lines would otherwise fill the event
// loop's queue with positions nobody sees. The GUI thread takes the latest state, which may skip
// intermediate positions; the window's 200 ms tick takes it too, so a request the queue refused
// (wake returned false) costs at most one tick of delay.
//
// The bar follows two sources: the command file's lines (the ProgressView calls) and the transfers
// the loader measures in bytes (the TransferView calls: a download, a verify, a memory read or
// write). While a transfer runs the bar shows its bytes, labelled with its phase and file, so a long
// @verify or @binget moves the bar as a download does; when it ends the bar shows the lines again.
// Transfers nest as the loader's do: the innermost that has measured bytes is shown (a command file
// is a transfer too, of the records it holds, and one of commands only has none: its lines show).
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/progress.h"
#include "console/transfer.h"

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

class BarMailbox : public vx::ProgressView, public vx::TransferView {
 public:
  // Posts a request to the GUI thread; false when it could not be posted.
  using Wake = std::function<bool()>;
  explicit BarMailbox(Wake wake);

  void show(const std::string& file_name) override;
  void set_position(int percent) override;
  void hide() override;

  void phase_started(vx::Phase phase, const std::string& file) override;
  void progress(const vx::TransferProgress& progress) override;
  void transfer_ended() override;

  // Before a run: no bar, no transfer, nothing cut short (the state shown is taken as hidden).
  void clear();

  // GUI thread: the state to apply when it changed since the last take.
  std::optional<BarState> take();

  // Once the run has ended: where it stopped. The transfer that ended last, when it ended short of
  // its size (a run ended by a failure ends its transfers too); else the command file's bar; not
  // shown when there was neither.
  BarState stopped_at();

 private:
  void update(const BarState& wanted);
  void update_shown();  // what the bar shows now: the innermost transfer, else the lines

  std::mutex lock_;
  BarState lines_;  // the command file's bar
  struct Transfer {
    BarState bar;
    bool measured = false;  // bytes of a known size have moved
  };
  std::vector<Transfer> transfers_;    // the transfers running, outermost first
  std::optional<BarState> cut_short_;  // the last transfer that ended, when it ended short
  BarState wanted_;
  bool changed_ = false;
  bool wake_pending_ = false;
  Wake wake_;
};

}  // namespace vxw
