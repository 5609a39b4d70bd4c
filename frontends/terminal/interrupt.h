// Ctrl-C, SIGTERM and SIGHUP in the terminal front-end.
//
// catch_interruptions makes the three signals only request the end of the run (console/finish.h): the loader
// then says "Error: Interrupted.", closes the file it is writing and releases the port on its way out.
// A blocking call in progress is cut short rather than restarted, so a run waiting on a file that never
// comes (a FIFO without a writer) ends too. end_by_signal then ends the process by the signal itself,
// so a shell sees status 128 + N, as for any program stopped that way. SIGPIPE is ignored: a closed
// standard output or events pipe makes its writes fail, which is said once, and the run goes on.
#pragma once

namespace vx {

void catch_interruptions();
[[noreturn]] void end_by_signal(int signal_number);

}  // namespace vx
