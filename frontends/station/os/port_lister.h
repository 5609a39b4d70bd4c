// The ports vexal finds (`vexal --list-ports`), for --all, for completing --ports, and in watch mode.
//
// A listing runs vexal to its end (killed after kListingLimit), its standard output read as port
// lines (ports.h). While it runs the station still takes its signals (the caller's WaitInterrupt), so a
// Ctrl-C stops a listing too. A listing that fails says why once: the same failure again (watch mode
// lists every few seconds) is kept quiet until a listing succeeds or fails for another reason.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "frontends/station/os/child.h"
#include "frontends/station/os/ports.h"

namespace vx::station {

constexpr std::chrono::milliseconds kListingLimit{10000};

class PortLister {
 public:
  explicit PortLister(std::string vexal) : vexal_(std::move(vexal)) {}

  // The ports vexal lists now, in `listing`. False when the listing failed; `news` then holds why,
  // unless the last listing failed the same way ("" then).
  bool list(const WaitInterrupt& interrupt, std::vector<PortInfo>& listing, std::string& news);

 private:
  std::string vexal_;
  std::string last_problem_;
};

}  // namespace vx::station
