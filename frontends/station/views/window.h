// The station's window (vexal-station --window): a grid of tiles, one per board, that fills the
// window, under a header line with the job, the counts and the time since the station started.
//
// It is a Display like the terminal's table and is given the same boards at the same moments; the
// tiles are made from them through tiles.h, so the window holds no state of the boards of its own.
// Every note and change is also written to the log on standard output, as without a window.
//
// The station's loop stays the only loop: it waits on the window's X connection too (wake_fd) and
// lets FLTK handle its events after every wait (serve), so a resize or an expose is drawn at once.
// Tiles are redrawn at most every kLiveInterval (4 times a second), and only the tiles whose view
// changed; the header when its text changed (its clock moves once a second).
//
// Closing the window is Ctrl-C: the first close sends the station a SIGINT (no more jobs start, the
// running ones finish), a second one another (the running jobs are interrupted); the window stays
// until the station has ended and then closes. When the station ends without a close, the window
// stays with the results until the person closes it (or a Ctrl-C, SIGTERM or SIGHUP comes).
//
// VEXAL_STATION_WINDOW_DUMP=FILE (for tests and tools): after every drawing the window writes FILE
// anew with what it shows: "header<TAB>TEXT", then one line per tile "tile<TAB>X Y W H<TAB>TEXTS" with
// the tile's place in the window and its texts (tile_text) joined by '|'.
#pragma once

#include <memory>
#include <string>

#include "frontends/station/views/display.h"

namespace vx::station {

// True when this vexal-station was built with its window.
bool window_built();

// The window, on the display named by $DISPLAY, with `log` for the lines; `job` heads it. nullptr with
// the reason when no window can be opened.
std::unique_ptr<Display> make_window_display(std::unique_ptr<Display> log, const std::string& job, std::string& why);

}  // namespace vx::station
