#include "frontends/station/board_finder.h"

#include <chrono>

#include "frontends/station/model/job.h"
#include "frontends/station/views/text.h"

namespace vx::station {

bool BoardFinder::open(std::string& why) {
  for (const std::string& pattern : options_.match)
    if (!matcher_.add(pattern, why)) return false;
  return true;
}

bool BoardFinder::list_ports(const WaitInterrupt& interrupt, std::vector<PortInfo>& listing, bool quiet) {
  std::string news;
  if (lister_.list(interrupt, listing, news)) return true;
  if (!quiet && !runs_.stopping() && !news.empty()) display_.note("vexal-station: " + news);
  return false;
}

// --all: the ports listed that match; --ports: those given, completed by what the listing knows.
Found BoardFinder::prepare(const WaitInterrupt& interrupt) {
  std::vector<PortInfo> listing;
  std::vector<PortInfo> ports;
  bool listed = true;
  if (options_.all) {
    listed = list_ports(interrupt, listing, false);
    ports = matching_ports(listing, matcher_);
  } else {
    static_cast<void>(list_ports(interrupt, listing, true));  // only completes what is known of the ports given
    ports = ports_from_paths(options_.ports, options_.port_names, listing);
  }
  if (runs_.stopping()) display_.note("vexal-station: stopped before any board started");
  if (runs_.stopping() || !listed) return Found::Nothing;  // list_ports said why it failed
  // A refusal of the command line, as main's: one line on standard error, before anything ran.
  const std::string collision = colliding_boards_problem(ports, runs_.boards().job());
  if (!collision.empty()) {
    display_.error_line(collision);
    return Found::Refused;
  }
  for (const PortInfo& port : ports) runs_.add(port);
  announce();
  return runs_.boards().empty() ? Found::Nothing : Found::Boards;
}

// The boards found, the job they run, and whether they wait their turn.
void BoardFinder::announce() {
  const BoardList& boards = runs_.boards();
  if (boards.empty())
    display_.note("vexal-station: no ports found" + std::string(matcher_.empty() ? "" : " that match"));
  display_.note(formatted("%zu ports: ", boards.size()) + shown_command(setup_.vexal, boards.job()));
  const JobCapacity& capacity = runs_.capacity();
  if (boards.size() > capacity.jobs)
    display_.note(formatted("vexal-station: %zu jobs at once at most (%s); the others wait their turn", capacity.jobs,
                            capacity.set_by_option ? "--jobs" : "the open-file limit"));
}

void BoardFinder::open_watch(WatchMode& watch, SteadyTime now) {
  std::string patterns;
  for (const std::string& pattern : options_.match) patterns += (patterns.empty() ? "" : " or ") + pattern;
  display_.note("watching " + setup_.dev_root + " for ports matching " + patterns +
                " (Ctrl-C ends): " + shown_command(setup_.vexal, runs_.boards().job()));
  std::string why;
  if (watch.open(setup_.dev_root, now, why)) return;
  const auto every = std::chrono::duration_cast<std::chrono::seconds>(kFallbackRelist).count();
  display_.note("vexal-station: " + why +
                formatted("; listing the ports every %lld s instead", static_cast<long long>(every)));
}

void BoardFinder::relist(WatchMode& watch, const WaitInterrupt& interrupt) {
  std::vector<PortInfo> listing;
  if (!list_ports(interrupt, listing, false)) return;
  for (const PortInfo& port : watch.scan(matching_ports(listing, matcher_))) runs_.add(port);
}

}  // namespace vx::station
