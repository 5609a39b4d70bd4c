// The serial driver's face to the loader: the port set-up, the settings in effect, and the driver hooks.
//
// zapni_UART checks, in this order, the baud rate (one of kBaudRates), the port address (kCom1Address
// or kCom2Address) and the opening; it returns 0 on success and 1 otherwise, and only on success records
// its four arguments in the link's comdrv_port, comdrv_irq, comdrv_baud and comdrv_mode (link.h).
// Line: 8 data bits, one stop bit, parity by mode & 3 (0 none, 1 odd, 2 even, 3 odd), no flow control,
// DTR and RTS off.
//
// The hooks are called at fixed points of every exchange and do nothing on this system; they mark where
// a board needing a handshake would be served.
#pragma once

namespace vx {

// The rates the loader takes (bBAUD), slowest first.
inline constexpr int kBaudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
// The port addresses the loader takes (pADDR), and the ports they stand for.
inline constexpr short kCom1Address = 0x3F8;  // COM1, the default
inline constexpr short kCom2Address = 0x2F8;  // COM2

int zapni_UART(short port, signed char irq, int baud, signed char mode);

// Closes the port (a run in a test process; the real program keeps it open until it ends).
void comdrv_close();
// Releases the port (exclusive flag, lock) without closing it, for a process ending at once; safe in a
// signal handler.
void comdrv_release_now() noexcept;

void ocekavej_telegram();
void vyckej(int p);
int timeout_prijimace(unsigned t);
int timeout_vysilace(unsigned t);

}  // namespace vx
