// One telegram at a time: one request frame out, one answer frame in.
//
// posli_telegram is the frame layer: it completes the frame (L, checksum, end byte) in txbuff, sends
// it, reads one answer window into comdrv_rbuf, sets txrxok (1 when the byte at L+5 is 0x16) and cuts
// the answer text (offset 8 on) with a zero at L+4. One attempt; it fails the run only on an answer
// nobody asked for (below).
//
// sendc is the command layer: prefix + command text, nine attempts ('.' after each failed one, then
// "Error: No response.\n" and exit code 5), the answer text left in `o`. A text beginning with '~' is
// sent once without it and `o` stays empty. When the unanswered windows held bytes that were no answer
// frame (a line flooded with garbage or text: another baud rate, the wrong device), the run's error
// detail (console/outcome.h) says how many, so standard error points at the line, not at a silent board.
//
// The input queue is never purged while the port is open: an answer that comes after its window is read
// by the next exchange. A frame identical to the request just sent is the line's echo (a loopback, an
// RS-485 adapter): it is dropped and the window goes on for the board's own answer; when only the echo
// comes, the attempt is unanswered. The first echo of a process is reported on the diagnostics channel.
// Only a request that was sent again after an unanswered attempt can be answered twice; its second
// answer is read and dropped before a different request goes out, so it can't stand in for that one's.
//
// An answer nobody asked for (bytes after a complete answer before the next request leaves, a different
// frame behind the answer in its window, bytes within 15 ms after the run's last answer) is never taken:
// posli_telegram and check_last_answer end the run with "Error: Unrequested answer.", exit code 5 (the
// line failed, as when it gives no answer), and a line on the diagnostics channel that says the line
// repeats answers and that VEXAL_WINDOW=full reads such a line.
//
// A network port whose connection is gone (Port::connection_lost) answers no attempt again: an exchange
// without an answer then ends the run at once with "Error: No response." (as for a silent board), exit code 5
// (a failed line), the connection's reason on the diagnostics channel.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "protocol/frame.h"
#include "serial/port.h"

namespace vx {

inline constexpr int kTelegramAttempts = 9;
inline constexpr std::size_t kMaxCommandText = ft12::kMaxText;  // prefix + text + checksum + end fit a frame buffer

// txbuff, comdrv_rbuf, txrxok and `o` are members of the link's state (serial/link.h).

// That answer text as sendc left it, never read beyond the buffer.
std::string_view answer();

int posli_telegram(const unsigned char* tel, int delka);
void sendc(const char* p);
// After the run's last exchange, before it ends with success: waits until 15 ms of silence would have
// followed the last answer (no longer) and ends the run as above if anything more came.
void check_last_answer();

// Whether an exchange ends as soon as its answer frame is complete (the default) or always waits out
// the full read window (for a slow board that needs the 15 ms of silence: VEXAL_WINDOW=full).
void link_set_early_end(bool on);
bool link_early_end();

// The open port every exchange uses (set by zapni_UART); detaching closes it.
void link_attach(std::unique_ptr<Port> port);
void link_detach();
bool link_attached();

}  // namespace vx
