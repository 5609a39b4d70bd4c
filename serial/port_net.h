// The network port: a board on another host, reached by TCP (serial/port_url.h names the two forms).
//
// It is a Port like the platform's, built around the same AnswerReader and read windows: only the
// bytes' way differs. Opening connects (bounded by kConnectTimeout), and for rfc2217:// negotiates
// COM-PORT-OPTION, BINARY and SUPPRESS-GO-AHEAD, sends the run's line settings (SET-BAUDRATE,
// SET-DATASIZE 8, SET-PARITY, SET-STOPSIZE 1) and waits for the server's answers at most kOptionWait:
// a server that answers with another setting than asked fails the opening and says which; one that
// answers not at all is gone on with, said on the diagnostics channel. PURGE-DATA then empties the
// server's received bytes, as a UART's input is flushed (its answer waited for at most kOptionWait too),
// and what came before it is dropped; the opening drain (port.cpp) follows as for a device.
//
// Timing: the read window of each exchange is widened by the connection's round trip (measured at the
// opening: the connect, and for rfc2217:// the time the server took to answer the settings, whichever
// is longer) and by the time the request takes on the far serial line at the run's baud rate (a local
// port's read begins when the frame has left the UART; a socket's write returns before the far line has
// sent it). The 15 ms of silence between bytes that end a window without a complete answer frame grow by
// 35 ms: an exporter passes the line's bytes on in pieces, with pauses a UART never makes.
//
// Notifications (line state, modem state, flow control) and any other telnet traffic are taken as they
// come, inside every read, and never reach the answer bytes. A connection closed or failed while
// open is kept as connection_lost's reason; reads then give nothing and writes fail.
#pragma once

#include <string>

#include "protocol/line.h"
#include "serial/port.h"
#include "serial/port_url.h"

namespace vx {

inline constexpr Millis kConnectTimeout{3000};
inline constexpr Millis kOptionWait{1000};

// Opens the network port `url` names for `com_name` with the line settings.
OpenResult open_network_port(const std::string& com_name, const PortUrl& url, const LineSettings& settings);

}  // namespace vx
