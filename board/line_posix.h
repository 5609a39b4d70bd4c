// The board's end of the line on Linux: a pseudo-terminal it creates, or a serial device it opens.
//
// A pseudo-terminal's master is the board's side; the loader opens the slave, by its path or a link to it.
// The board holds the slave open too: without that, the loader closing its port would hang the line up
// (reads on the master fail with EIO and bytes not yet read are lost), and the next run of the loader
// would find no board. Both ends are raw, so no byte is echoed, translated or taken as a signal.
#pragma once

#include <string>

#include "protocol/line.h"

namespace vx::board {

class LineEnd {
 public:
  LineEnd() = default;
  LineEnd(const LineEnd&) = delete;
  LineEnd& operator=(const LineEnd&) = delete;
  ~LineEnd();

  int fd() const { return fd_; }
  const std::string& device() const { return device_; }

  // A new pseudo-terminal, its slave set to `baud` (only what the loader sees before it sets its own).
  bool open_pseudo_terminal(unsigned baud, std::string& why);
  // A serial port at the loader's line settings: 8 data bits, 1 stop bit, no flow control, raw.
  bool open_serial_device(const std::string& path, unsigned baud, Parity parity, std::string& why);

 private:
  int fd_ = -1;
  int slave_fd_ = -1;
  std::string device_;
};

// PATH made a symbolic link to `target`, replacing an older link (never another kind of file).
bool make_link(const std::string& path, const std::string& target, std::string& why);
// Removes PATH when it still is the link to `target`.
void remove_link(const std::string& path, const std::string& target);

}  // namespace vx::board
