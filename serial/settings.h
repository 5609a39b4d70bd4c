// What a run takes from outside the loader's arguments: the port devices, the read window, the trace.
//
// The front-end reads them once, where the run starts (loader/session.h reads the command line's
// --port and the environment), and hands them to the link with set_link_settings after fresh_run. The
// serial layer reads no environment itself, so a test sets a run's settings, never the process's
// environment.
#pragma once

#include <map>
#include <string>

namespace vx {

struct LinkSettings {
  // COM name -> device named on the command line (--port names COM1's); it goes ahead of the rest.
  std::map<std::string, std::string> named_devices;
  // COM name -> device the environment names (VEXAL_COM1, VEXAL_COM2); the POSIX ports' choice.
  std::map<std::string, std::string> environment_devices;
  bool full_window = false;  // every exchange waits out the whole read window (VEXAL_WINDOW=full)
  std::string trace_path;    // the file every frame is appended to (VEXAL_TRACE); "" for none
};

// The settings of the run about to start (kept in the link's state, which fresh_run renews).
void set_link_settings(LinkSettings settings);
const LinkSettings& link_settings();

}  // namespace vx
