// The serial port on Win32: COM1 and COM2 through the communications API, overlapped.
//
// The port is opened without sharing, so another program holding it makes the open fail. The driver
// does the timing: the read time-outs (15 ms between bytes, 1 ms per byte asked for + 50 ms in all)
// end an answer window, the write time-outs (2 ms per byte + 200 ms) bound a write. An exchange writes
// the frame, waits for FlushFileBuffers to see it transmitted, then reads up to 256 bytes; each of the
// two overlapped calls is waited for at most 1000 ms, and one that is still pending then is cancelled
// and its cancellation waited for, so the driver never writes into a buffer after the exchange.
// The input queue is never purged: a late answer stays queued for the next exchange.
//
// One read under the driver's time-outs always runs the full window, also where the core would have
// it end at a complete frame: what the early end saves is the 15 ms of silence after the frame, and the
// full window reads the same bytes.
#include <windows.h>

#include <string>

#include "serial/port.h"

namespace vx {
namespace {

constexpr DWORD kIoWaitMs = 1000;   // the longest wait for one write or one read
constexpr DWORD kQueueSize = 300;   // the driver's input and output queues
constexpr DWORD kReadInterval = 15;
constexpr DWORD kReadMultiplier = 1;
constexpr DWORD kReadConstant = 50;
constexpr DWORD kWriteMultiplier = 2;
constexpr DWORD kWriteConstant = 200;
constexpr DWORD kDcbLength = 28;
static_assert(sizeof(DCB) == kDcbLength, "the DCB record the driver expects");

std::string system_reason(DWORD err) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, text,
                                 sizeof text, nullptr);
  std::string why = n ? std::string(text, n) : std::string();
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.'))
    why.pop_back();
  return why + " (system error " + std::to_string(err) + ")";
}

// A manual-reset event that signals the end of one overlapped call. Unnamed: the events of two loaders
// on COM1 and COM2 must never be one and the same object.
class IoEvent {
 public:
  IoEvent() : h_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~IoEvent() {
    if (h_) CloseHandle(h_);
  }
  IoEvent(const IoEvent&) = delete;
  IoEvent& operator=(const IoEvent&) = delete;
  HANDLE handle() const { return h_; }
  bool ok() const { return h_ != nullptr; }

 private:
  HANDLE h_;
};

class Win32Port : public Port {
 public:
  explicit Win32Port(HANDLE h) : hPort_(h) {}
  ~Win32Port() override { CloseHandle(hPort_); }
  Win32Port(const Win32Port&) = delete;
  Win32Port& operator=(const Win32Port&) = delete;

  bool events_ok() const { return hTxFlag_.ok() && hRxFlag_.ok(); }

  // The driver's write time-out bounds the write itself (2 ms per byte + 200 ms, what `limit` says).
  bool write_frame(const std::uint8_t* data, std::size_t n, Millis) override {
    OVERLAPPED overtx = fresh(hTxFlag_);
    DWORD q = 0;
    if (!WriteFile(hPort_, data, static_cast<DWORD>(n), nullptr, &overtx) && GetLastError() != ERROR_IO_PENDING)
      return false;
    // Returns once the driver has sent the bytes; the read window must not open before that.
    const bool flushed = FlushFileBuffers(hPort_) != 0;
    return complete(overtx, q) && flushed && q == n;
  }

  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow&) override {
    OVERLAPPED overrx = fresh(hRxFlag_);
    DWORD qr = 0;
    if (!ReadFile(hPort_, buf, static_cast<DWORD>(cap), nullptr, &overrx) && GetLastError() != ERROR_IO_PENDING)
      return 0;
    complete(overrx, qr);
    return qr;
  }

 private:
  static OVERLAPPED fresh(const IoEvent& e) {
    OVERLAPPED ov{};
    ov.hEvent = e.handle();
    ResetEvent(e.handle());  // set by the last exchange's completion
    return ov;
  }

  // Waits for an overlapped call; `done` gets its byte count. A read that the driver's total time-out
  // ends may report ERROR_TIMEOUT: the bytes it has read stand all the same.
  bool complete(OVERLAPPED& ov, DWORD& done) {
    done = 0;
    if (WaitForSingleObject(ov.hEvent, kIoWaitMs) != WAIT_OBJECT_0) {
      // Still pending (or the wait itself failed): cancel it and wait for the cancellation, so the
      // driver is done with the buffer when the exchange moves on.
      CancelIo(hPort_);
      GetOverlappedResult(hPort_, &ov, &done, TRUE);
      return false;
    }
    if (GetOverlappedResult(hPort_, &ov, &done, FALSE)) return true;
    return GetLastError() == ERROR_TIMEOUT;
  }

  HANDLE hPort_;
  IoEvent hTxFlag_;
  IoEvent hRxFlag_;
};

DCB line_state(const LineSettings& s) {
  DCB DCBvar{};  // every member not written here stays 0: no flow control, DTR and RTS off
  DCBvar.DCBlength = kDcbLength;
  DCBvar.BaudRate = s.baud;
  DCBvar.fParity = s.parity != Parity::None;
  if (s.parity == Parity::Odd) DCBvar.Parity = ODDPARITY;
  if (s.parity == Parity::Even) DCBvar.Parity = EVENPARITY;
  DCBvar.fDtrControl = DTR_CONTROL_DISABLE;
  DCBvar.fRtsControl = RTS_CONTROL_DISABLE;
  DCBvar.ByteSize = 8;
  DCBvar.StopBits = ONESTOPBIT;
  return DCBvar;
}

// The line settings and time-outs; an empty result when the device took them all. A port that
// refuses its baud rate or its time-outs would run every exchange into "No response": better to
// say why it can't be used.
std::string configure(HANDLE h, const LineSettings& s) {
  COMMTIMEOUTS CommTimeouts{};
  if (!GetCommTimeouts(h, &CommTimeouts)) return "not a serial port: " + system_reason(GetLastError());
  CommTimeouts.ReadIntervalTimeout = kReadInterval;
  CommTimeouts.ReadTotalTimeoutMultiplier = kReadMultiplier;
  CommTimeouts.ReadTotalTimeoutConstant = kReadConstant;
  CommTimeouts.WriteTotalTimeoutMultiplier = kWriteMultiplier;
  CommTimeouts.WriteTotalTimeoutConstant = kWriteConstant;
  if (!SetCommTimeouts(h, &CommTimeouts)) return "can't set the time-outs: " + system_reason(GetLastError());
  // The queue sizes are a recommendation to the driver; one that keeps its own is as good.
  SetupComm(h, kQueueSize, kQueueSize);
  DCB DCBvar = line_state(s);
  if (!SetCommState(h, &DCBvar)) return "can't set the line: " + system_reason(GetLastError());
  return {};
}

std::string open_failure(const std::string& com_name, DWORD err) {
  if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
    return com_name + " is in use by another program";
  return "can't open " + com_name + ": " + system_reason(err);
}

}  // namespace

OpenResult open_platform_port(const std::string& com_name, const LineSettings& settings) {
  OpenResult r;
  const std::string device = "\\\\.\\" + com_name;
  HANDLE hPort = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hPort == INVALID_HANDLE_VALUE) {
    r.why = open_failure(com_name, GetLastError());
    return r;
  }
  auto port = std::make_unique<Win32Port>(hPort);  // closes the handle on every failure below
  if (!port->events_ok()) {
    r.why = com_name + ": can't create the exchange's events: " + system_reason(GetLastError());
    return r;
  }
  if (std::string why = configure(hPort, settings); !why.empty()) {
    r.why = com_name + ": " + why;
    return r;
  }
  r.port = std::move(port);
  return r;
}

}  // namespace vx
