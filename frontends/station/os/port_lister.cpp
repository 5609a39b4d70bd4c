#include "frontends/station/os/port_lister.h"

#include <sys/wait.h>

namespace vx::station {

bool PortLister::list(const WaitInterrupt& interrupt, std::vector<PortInfo>& listing, std::string& news) {
  Captured listed;
  std::string problem;
  if (run_captured(vexal_, {"--list-ports"}, kListingLimit, interrupt, listed, problem) &&
      !(WIFEXITED(listed.wait_status) && WEXITSTATUS(listed.wait_status) == 0))
    problem = vexal_ + " --list-ports failed (status " + std::to_string(listed.wait_status) + ")";
  if (problem.empty()) {
    listing = parse_port_listing(listed.output);
    last_problem_.clear();
    return true;
  }
  news = problem != last_problem_ ? problem : std::string();
  last_problem_ = problem;
  return false;
}

}  // namespace vx::station
