#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "console/diag.h"
#include "console/outcome.h"
#include "serial/comdrv.h"
#include "serial/link.h"
#include "serial/port.h"
#include "serial/telegram.h"

namespace vx {

namespace {

bool baud_supported(int baud) {
  for (int rate : kBaudRates)
    if (rate == baud) return true;
  return false;
}

// Only the two low bits of the mode count; 3 gives odd parity like 1.
Parity parity_for(signed char mode) {
  switch (mode & 3) {
    case 0: return Parity::None;
    case 2: return Parity::Even;
    default: return Parity::Odd;
  }
}

const char* com_name_for(short port) {
  if (port == kCom1Address) return "COM1";
  if (port == kCom2Address) return "COM2";
  return nullptr;
}

}  // namespace

int zapni_UART(short port, signed char irq, int baud, signed char mode) {
  if (!baud_supported(baud)) return 1;
  LineSettings settings{static_cast<unsigned>(baud), parity_for(mode)};
  const char* com = com_name_for(port);
  if (!com) return 1;
  OpenResult opened = open_port(com, settings);
  if (!opened.port) {
    diagnostic(opened.why);
    // The run's record says why, where the console says only "Wrong settings".
    set_error_detail(opened.why, /*already_said=*/true);
    return 1;
  }
  link_attach(std::move(opened.port));
  link_set_early_end(!link_settings().full_window);  // a slow board may need the full window
  LinkState& link = link_state();
  link.comdrv_port = port;
  link.comdrv_irq = irq;
  link.comdrv_baud = baud;
  link.comdrv_mode = mode;
  return 0;
}

void comdrv_close() { link_detach(); }

void comdrv_release_now() noexcept { release_port_now(); }

// The driver hooks: fixed points of every exchange where a board needing a handshake would be served.
void ocekavej_telegram() {}
void vyckej(int) {}
int timeout_prijimace(unsigned) { return 1; }  // prijem_dokoncen
int timeout_vysilace(unsigned) { return 1; }   // vysilani_ukonceno

}  // namespace vx
