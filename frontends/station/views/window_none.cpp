// The station built without FLTK: no window, and --window is refused with the reason.
#include "frontends/station/views/window.h"

namespace vx::station {

bool window_built() { return false; }

std::unique_ptr<Display> make_window_display(std::unique_ptr<Display>, const std::string&, std::string& why) {
  why = "--window: this vexal-station was built without its window (FLTK)";
  return nullptr;
}

}  // namespace vx::station
