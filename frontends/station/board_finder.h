// The boards the station runs on, found before its loop starts and, in watch mode, as ports appear.
//
// --match's patterns are compiled first (the options were checked with them, so a failure here is a
// usage error after all). Then, without watch mode, the boards are found once: with --all, the ports
// vexal lists (`vexal --list-ports`, port_lister.h) that match; with --ports, the ports given, completed
// by what the listing knows of them (a listing that fails then is kept quiet). Two boards that the job's
// placeholders would give one file refuse the job before anything runs (board_list.h). The boards
// found are added to the runs (board_runs.h) and announced: how many, the command each runs, and
// whether some wait their turn. In watch mode nothing is listed here: the opening note says what is
// watched, and the ports are listed each time the relist timer says so (relist()).
//
// The caller's WaitInterrupt takes the station's signals while the ports are listed, so a Ctrl-C stops
// a listing; a listing stopped that way says nothing (the stop has its own note).
#pragma once

#include <string>
#include <vector>

#include "frontends/station/board_runs.h"
#include "frontends/station/os/child.h"
#include "frontends/station/os/port_lister.h"
#include "frontends/station/os/ports.h"
#include "frontends/station/station.h"
#include "frontends/station/views/display.h"
#include "frontends/station/watch_mode.h"

namespace vx::station {

// What finding the boards before the loop gave.
enum class Found {
  Boards,   // boards were added: the loop runs them
  Nothing,  // no board, a failed listing or a stop: the station concludes at once (the note was shown)
  Refused,  // the job was refused for the boards found: a usage error, nothing ran
};

class BoardFinder {
 public:
  BoardFinder(const StationSetup& setup, Display& display, BoardRuns& runs)
      : setup_(setup), display_(display), runs_(runs), lister_(setup.vexal) {}

  // Compiles --match's patterns; false with the reason.
  bool open(std::string& why);

  // Without watch mode: finds the boards, adds them to the runs and announces them.
  Found prepare(const WaitInterrupt& interrupt);

  // Watch mode begins at `now`: says what is watched, and opens `watch` (noting when it falls back
  // to listing the ports every kFallbackRelist).
  void open_watch(WatchMode& watch, SteadyTime now);

  // Watch mode: lists the ports now and adds a board for each new one that matches (watch.h).
  void relist(WatchMode& watch, const WaitInterrupt& interrupt);

 private:
  bool list_ports(const WaitInterrupt& interrupt, std::vector<PortInfo>& listing, bool quiet);
  void announce();

  const StationSetup& setup_;
  const Options& options_ = setup_.options;
  Display& display_;
  BoardRuns& runs_;
  PortMatcher matcher_;
  PortLister lister_;
};

}  // namespace vx::station
