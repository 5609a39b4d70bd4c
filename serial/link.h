// The link's state: everything one run keeps about the serial line, in one object. A fresh run gets a
// freshly constructed LinkState (fresh_link), never a list of resets: the port and the trace it
// replaces are closed by their destructors.
//
// The buffers and flags keep the names the exchange has always used (telegram.h describes them). The
// state belongs to the loader's thread: a run sets it up, uses it and ends on that thread (or before
// the thread starts), so it needs no lock.
#pragma once

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "protocol/frame.h"
#include "serial/port.h"
#include "serial/settings.h"
#include "serial/trace.h"

namespace vx {

// The request last sent, to know a retry from a new request (telegram.cpp says why).
struct LastRequest {
  unsigned char frame[ft12::kBufSize] = {};
  std::size_t length = 0;
  bool answered = true;
  bool retried = false;  // sent again after an unanswered attempt: a second answer may be on its way

  bool same_as(const unsigned char* f, std::size_t n) const { return n == length && std::memcmp(f, frame, n) == 0; }
};

struct LinkState {
  unsigned char txbuff[ft12::kBufSize] = {};
  unsigned char comdrv_rbuf[ft12::kBufSize] = {};
  int txrxok = 0;
  char o[ft12::kBufSize] = {};        // the answer text of the last text telegram
  char request[ft12::kBufSize] = {};  // the request being built by sendc: prefix, command text, terminating zero
  LastRequest last;
  bool echo_reported = false;         // the line's echo has been reported (once a run)
  std::size_t unframed_bytes = 0;     // bytes in the unanswered windows of the current sendc (telegram.cpp)
  bool early_end = true;              // an exchange ends as soon as its answer frame is complete
  std::unique_ptr<FrameTrace> trace;  // open while a port is, when the settings name a trace file
  std::unique_ptr<Port> hPort;        // the open port every exchange uses (set by zapni_UART); closed first
  PortOpener opener;                  // empty: the platform's ports
  LinkSettings settings;              // the devices, the read window and the trace this run was given
  // The settings zapni_UART put in effect (comdrv.h).
  int comdrv_port = 0;
  int comdrv_irq = 0;
  int comdrv_baud = 0;
  int comdrv_mode = 0;
};

// The link of the process.
LinkState& link_state();

// A freshly constructed state in place of the one in force (a new run): no port, no trace, no opener.
void fresh_link();

}  // namespace vx
