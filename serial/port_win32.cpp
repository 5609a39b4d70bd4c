// The serial port on Win32: COM1 and COM2 through the communications API, overlapped.
//
// The port is opened without sharing, so another program holding it makes the open fail. The write
// time-outs (2 ms per byte + 200 ms) bound a write. An exchange writes the frame, waits for
// FlushFileBuffers to see it transmitted, then reads the answer; every overlapped call is waited for
// at most 1000 ms, and one that is still pending then is cancelled and its cancellation waited for, so
// the driver never writes into a buffer after the exchange. The input queue is never purged: a late
// answer stays queued for the next exchange.
//
// The full window (VEXAL_WINDOW=full) is one read of up to 256 bytes under the port's standing read
// time-outs (15 ms between bytes, 1 ms per byte asked for + 50 ms in all): the driver does the timing.
//
// The early end can't be had from one such read, which always waits out the 15 ms of silence. There the
// port is a ByteSource for the same AnswerReader as on POSIX, so both platforms end, drop and keep the
// line idle by one and the same code: a read of one byte under a total time-out waits for the next
// byte (it returns the moment one is in), and a read of what ClearCommError finds queued takes the
// bytes behind it. The driver counts its time-outs in milliseconds, so shorter waits (the idle gap at the higher
// rates) are timed here on the performance counter.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "serial/port.h"

namespace vx {
namespace {

constexpr DWORD kIoWaitMs = 1000;  // the longest wait for one write or one read
constexpr DWORD kQueueSize = 300;  // the driver's input and output queues
// The driver's time-outs in its milliseconds, from the window's timing every platform keeps (port.h).
constexpr DWORD in_driver_ms(Millis t) { return static_cast<DWORD>(t.count()); }
constexpr DWORD kReadInterval = in_driver_ms(kByteGap);
constexpr DWORD kReadMultiplier = in_driver_ms(kReadPerByte);
constexpr DWORD kReadConstant = in_driver_ms(kReadBase);
constexpr DWORD kWriteMultiplier = in_driver_ms(kWritePerByte);
constexpr DWORD kWriteConstant = in_driver_ms(kWriteBase);
constexpr DWORD kDcbLength = 28;
static_assert(sizeof(DCB) == kDcbLength, "the DCB record the driver expects");

struct ReadTimeouts {
  DWORD interval;
  DWORD multiplier;
  DWORD constant;
  bool operator==(const ReadTimeouts&) const = default;
};
constexpr ReadTimeouts kFullWindow{kReadInterval, kReadMultiplier, kReadConstant};
constexpr ReadTimeouts kQueuedOnly{MAXDWORD, 0, 0};  // returns at once with what has come in
// Ends with the first byte, or after `ms` without one.
constexpr ReadTimeouts first_byte_within(DWORD ms) { return ReadTimeouts{0, 0, ms}; }

COMMTIMEOUTS comm_timeouts(const ReadTimeouts& r) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = r.interval;
  t.ReadTotalTimeoutMultiplier = r.multiplier;
  t.ReadTotalTimeoutConstant = r.constant;
  t.WriteTotalTimeoutMultiplier = kWriteMultiplier;
  t.WriteTotalTimeoutConstant = kWriteConstant;
  return t;
}

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

// Sleep() counts in the system's timer ticks (up to 15.6 ms), far coarser than the idle gap of 33 bit
// times (0.29 ms at 115200 baud): the last stretch of a wait is spent watching the performance counter.
class PreciseClock : public Clock {
 public:
  Micros now() const override { return steady_clock().now(); }
  void sleep_for(Micros d) const override {
    const Micros until = now() + d;
    for (Micros left = d; left.count() > 0; left = until - now()) {
      if (left > kCoarseSleepAbove)
        Sleep(static_cast<DWORD>((left - kCoarseSleepAbove).count() / 1000) + 1);
      else
        Sleep(0);  // gives the processor to whoever is ready, and comes back at once otherwise
    }
  }

 private:
  static constexpr Micros kCoarseSleepAbove{Millis(20)};
};

class Win32Port : public Port, private ByteSource {
 public:
  Win32Port(HANDLE h, unsigned baud) : hPort_(h), idle_gap_(idle_interval(baud)), reader_(*this, clock_) {}
  ~Win32Port() override { CloseHandle(hPort_); }
  Win32Port(const Win32Port&) = delete;
  Win32Port& operator=(const Win32Port&) = delete;

  bool events_ok() const { return hTxFlag_.ok() && hRxFlag_.ok(); }
  // configure() has put the full window's time-outs in force.
  void full_window_in_force() { in_force_ = kFullWindow; }

  // The driver's write time-out bounds the write itself (2 ms per byte + 200 ms, what `limit` says).
  bool write_frame(const std::uint8_t* data, std::size_t n, Millis) override {
    reader_.settle(idle_gap_, data, n);  // nothing to do unless the last answer ended early
    OVERLAPPED overtx{};
    if (!fresh(hTxFlag_, overtx)) return false;
    DWORD q = 0;
    if (!WriteFile(hPort_, data, static_cast<DWORD>(n), nullptr, &overtx) && GetLastError() != ERROR_IO_PENDING)
      return false;
    // Returns once the driver has sent the bytes; the read window must not open before that.
    const bool flushed = FlushFileBuffers(hPort_) != 0;
    return complete(overtx, q) && flushed && q == n;
  }

  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) override {
    if (window.end_at_frame) return reader_.read(buf, cap, window);
    if (!use(kFullWindow)) return 0;
    return read_once(buf, static_cast<DWORD>(cap)).value_or(0);
  }
  // The full window reads through the driver's time-outs, so only the early windows' answers are
  // watched for what follows them.
  std::size_t unsolicited_bytes() const override { return reader_.unsolicited_bytes(); }
  void listen_after_last_answer() override { reader_.listen_after_last_answer(idle_gap_); }

 private:
  // ByteSource, for the early end: the first byte within `wait`, and whatever has come in behind it.
  std::size_t read_some(std::uint8_t* buf, std::size_t n, Micros wait) override {
    if (n == 0) return 0;
    if (wait < Millis(1)) {
      std::size_t got = 0;
      if (!read_queued(buf, n, got)) return failed(wait);
      if (got || wait.count() <= 0) return got;
      clock_.sleep_for(wait);
      if (!read_queued(buf, n, got)) return 0;
      return got;
    }
    const DWORD ms = static_cast<DWORD>((wait.count() + 999) / 1000);
    if (!use(first_byte_within(ms))) return failed(wait);
    const std::optional<DWORD> first = read_once(buf, 1);
    if (!first) return failed(wait);
    if (*first == 0) return 0;
    std::size_t more = 0;
    if (n > 1 && !read_queued(buf + 1, n - 1, more)) return 1;  // the rest stays queued for the next call
    return 1 + more;
  }

  // What has come in already, without waiting; false when the port refused the call. Under wine a
  // read with MAXDWORD/0/0 returns at once only when bytes are queued (with none it waits for the next
  // one), so the queue is looked at first and only what it holds is read.
  bool read_queued(std::uint8_t* buf, std::size_t n, std::size_t& got) {
    got = 0;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(hPort_, &errors, &stat)) return false;
    const std::size_t queued = std::min<std::size_t>(n, stat.cbInQue);
    if (queued == 0) return true;
    if (!use(kQueuedOnly)) return false;
    const std::optional<DWORD> r = read_once(buf, static_cast<DWORD>(queued));
    if (!r) return false;
    got = *r;
    return true;
  }

  // A port that refuses its reads (an unplugged adapter) would otherwise have the window's loop spin.
  std::size_t failed(Micros wait) const {
    clock_.sleep_for(wait);
    return 0;
  }

  bool use(const ReadTimeouts& r) {
    if (in_force_ && *in_force_ == r) return true;
    COMMTIMEOUTS t = comm_timeouts(r);
    if (!SetCommTimeouts(hPort_, &t)) {
      in_force_.reset();  // not known any more: set again next time
      return false;
    }
    in_force_ = r;
    return true;
  }

  // One overlapped read under the time-outs in force: the bytes read, none when the read could not start.
  std::optional<DWORD> read_once(std::uint8_t* buf, DWORD n) {
    OVERLAPPED overrx{};
    if (!fresh(hRxFlag_, overrx)) return std::nullopt;
    DWORD qr = 0;
    if (!ReadFile(hPort_, buf, n, nullptr, &overrx) && GetLastError() != ERROR_IO_PENDING) return std::nullopt;
    complete(overrx, qr);  // a read that failed or was cancelled still reports what it had read
    return qr;
  }

  // A call's event is set by the last call's completion; one that can't be reset would make the next
  // wait return before the call has ended, so the call is not started.
  static bool fresh(const IoEvent& e, OVERLAPPED& ov) {
    ov = OVERLAPPED{};
    ov.hEvent = e.handle();
    return ResetEvent(e.handle()) != 0;
  }

  // Waits for an overlapped call; `done` gets its byte count. A read that the driver's total time-out
  // ends may report ERROR_TIMEOUT (wine does): the bytes it has read stand all the same.
  bool complete(OVERLAPPED& ov, DWORD& done) {
    done = 0;
    if (WaitForSingleObject(ov.hEvent, kIoWaitMs) == WAIT_OBJECT_0) {
      if (GetOverlappedResult(hPort_, &ov, &done, FALSE)) return true;
      const DWORD err = GetLastError();
      if (err == ERROR_TIMEOUT) return true;
      if (err != ERROR_IO_INCOMPLETE) return false;
    }
    // Still pending (or the wait itself failed): cancel it and wait for the cancellation, so the
    // driver is done with the buffer when the exchange moves on. CancelIo finds nothing to cancel when
    // the call ended meanwhile; either way the wait below returns when the call is over, which the
    // time-outs in force bound.
    if (!CancelIo(hPort_) && GetLastError() != ERROR_NOT_FOUND) {
      // Not cancellable: the call still ends under its own time-outs, and the wait below is for that.
    }
    if (!GetOverlappedResult(hPort_, &ov, &done, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED &&
        GetLastError() != ERROR_TIMEOUT)
      done = 0;
    return false;
  }

  HANDLE hPort_;
  IoEvent hTxFlag_;
  IoEvent hRxFlag_;
  std::optional<ReadTimeouts> in_force_;
  Micros idle_gap_;
  PreciseClock clock_;
  AnswerReader reader_;
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
  CommTimeouts = comm_timeouts(kFullWindow);
  if (!SetCommTimeouts(h, &CommTimeouts)) return "can't set the time-outs: " + system_reason(GetLastError());
  if (!SetupComm(h, kQueueSize, kQueueSize)) {
    // The queue sizes are a recommendation to the driver; one that keeps its own is as good.
  }
  DCB DCBvar = line_state(s);
  if (!SetCommState(h, &DCBvar)) return "can't set the line: " + system_reason(GetLastError());
  return {};
}

// The port's name and, where the command line named another device, that device.
std::string port_label(const std::string& com_name, const std::string& device) {
  return device == com_name ? com_name : com_name + " (" + device + ")";
}

std::string open_failure(const std::string& label, DWORD err) {
  if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION) return label + " is in use by another program";
  return "can't open " + label + ": " + system_reason(err);
}

// "COM12" and "\\.\COM12" both open as "\\.\COM12", the form every port number works with.
std::string device_path(const std::string& device) {
  static const std::string kDevicePrefix = "\\\\.\\";
  return device.rfind(kDevicePrefix, 0) == 0 ? device : kDevicePrefix + device;
}

}  // namespace

std::string platform_port_device(const std::string& com_name) {
  std::string named = named_port_device(com_name);
  return named.empty() ? com_name : named;
}

OpenResult open_platform_port(const std::string& com_name, const LineSettings& settings) {
  OpenResult r;
  const std::string label = port_label(com_name, platform_port_device(com_name));
  const std::string device = device_path(platform_port_device(com_name));
  HANDLE hPort = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hPort == INVALID_HANDLE_VALUE) {
    r.why = open_failure(label, GetLastError());
    return r;
  }
  auto port = std::make_unique<Win32Port>(hPort, settings.baud);  // closes the handle on every failure below
  if (!port->events_ok()) {
    r.why = label + ": can't create the exchange's events: " + system_reason(GetLastError());
    return r;
  }
  if (std::string why = configure(hPort, settings); !why.empty()) {
    r.why = label + ": " + why;
    return r;
  }
  port->full_window_in_force();
  // What came while no one held the port is no answer to this run.
  if (!PurgeComm(hPort, PURGE_RXABORT | PURGE_RXCLEAR)) {
    r.why = com_name + ": can't empty the input queue: " + system_reason(GetLastError());
    return r;
  }
  r.port = std::move(port);
  return r;
}

// The system releases a handle opened without sharing when the process ends, however it ends.
void release_port_now() noexcept {}

}  // namespace vx
