#include "serial/telegram.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "console/diag.h"
#include "console/finish.h"
#include "console/mprintf.h"
#include "console/outcome.h"
#include "console/transfer.h"
#include "serial/comdrv.h"
#include "serial/link.h"
#include "protocol/frame.h"
#include "serial/trace.h"

namespace vx {

namespace {

constexpr std::size_t kFrameBuf = ft12::kBufSize;
constexpr std::size_t kMinFrame = ft12::kOverhead;
constexpr char kNoAnswerMark = '~';

// A request sent again after an attempt went unanswered can be answered twice: the late answer to the
// attempt before comes in the retry's window and is taken, and the retry's own answer follows. Left
// queued, that second answer would be taken by the next, different request in place of its own (a read
// would put one chunk's bytes in the next chunk's place and report success; a '*' could stand for a
// refused block). So before a different request follows a retried one, what still arrives is read and
// dropped: full read windows until one of them stays silent, at least two (a late answer comes within
// the window after its own), at most kMaxStragglerWindows against a line that never falls silent.
// A late answer to a request that was not retried (a '~' text) is still taken by the next exchange.
constexpr int kMinStragglerWindows = 2;
constexpr int kMaxStragglerWindows = 8;

// A line that delivers answers nobody asked for (a board or adapter that sends each answer twice, a
// few ms apart) lets an answer stand for the next request's once the early end has closed its window:
// a read would take one chunk's bytes for the next one's, a write's '*' could stand for a refusal.
// Such bytes are never taken as an answer, and the run ends at once with the code of a failed line.
constexpr const char* kUnaskedError = "Error: Unrequested answer.\n";
std::string unasked_diagnostic(std::size_t bytes) {
  const std::string gap = std::to_string(kByteGap.count()) + " ms";
  return std::to_string(bytes) +
         " bytes came when no request was waiting for an answer: the line repeats answers (a board or adapter "
         "sending each answer twice), so one answer could stand for the next request's. VEXAL_WINDOW=full waits "
         "out " +
         gap + " of silence after every answer, which reads a repeat together with the answer it repeats";
}

constexpr const char* kNoResponseError = "Error: No response.\n";

constexpr const char* kEchoDiagnostic =
    "the line echoes what is sent (a loopback plug, TX tied to RX, or an RS-485 adapter that echoes); "
    "an echo is never taken for the board's answer";

std::size_t read_into_rbuf(LinkState& link, std::size_t from) {
  const std::size_t got = link.hPort->read_window(link.comdrv_rbuf + from, kFrameBuf - from,
                                                  ReadWindow::for_read_of(kFrameBuf, link.early_end));
  trace_received(link.comdrv_rbuf + from, got);
  return from + got;
}

// An answer that begins with the very bytes of the request is the line's echo of it, not the board:
// it is dropped, and the board's own answer, which follows it on a line that echoes, is read on.
bool starts_with_echo(const LinkState& link, std::size_t got, std::size_t delka) {
  return got >= delka && std::memcmp(link.comdrv_rbuf, link.txbuff, delka) == 0;
}

void report_echo_once(LinkState& link) {
  if (link.echo_reported) return;
  link.echo_reported = true;
  diagnostic(kEchoDiagnostic);
}

// Returns the bytes the window put into comdrv_rbuf (an echo dropped is not among them).
std::size_t send_and_receive(LinkState& link, std::size_t delka) {
  if (!link.hPort) return 0;  // no port: the exchange simply gets no answer
  const bool sent = link.hPort->write_frame(link.txbuff, delka, write_limit(delka));
  trace_sent(link.txbuff, delka, sent);
  std::size_t got = read_into_rbuf(link, 0);
  if (!starts_with_echo(link, got, delka)) return got;
  report_echo_once(link);
  trace_dropped(link.comdrv_rbuf, delka);
  got -= delka;
  std::memmove(link.comdrv_rbuf, link.comdrv_rbuf + delka, got);
  std::memset(link.comdrv_rbuf + got, 0, kFrameBuf - got);
  if (!ft12::answer_complete(link.comdrv_rbuf, got)) got = read_into_rbuf(link, got);
  return got;
}

// A network port's connection gone mid-run will answer no attempt again: the run ends at this exchange
// as a line that gave no answer, with the connection's reason on the diagnostics channel.
void end_if_connection_lost(LinkState& link) {
  if (!link.hPort) return;
  const std::string lost = link.hPort->connection_lost();
  if (lost.empty()) return;
  mprintf(kNoResponseError);
  diagnostic(lost);
  set_error_detail(lost, /*already_said=*/true);
  finish(ExitCode::NoResponse);
}

void end_if_unasked_answers(LinkState& link) {
  const std::size_t bytes = link.hPort ? link.hPort->unsolicited_bytes() : 0;
  if (bytes == 0) return;
  mprintf(kUnaskedError);
  diagnostic(unasked_diagnostic(bytes));
  finish(ExitCode::NoResponse);
}

// txrxok and the zero that ends the answer text. An L above 250 would put the end byte past the
// buffer: no answer. An L below 4 carries no text: the text is empty.
void judge_answer(LinkState& link) {
  unsigned char* comdrv_rbuf = link.comdrv_rbuf;
  const unsigned L = ft12::answer_L(comdrv_rbuf);
  if (L > ft12::kMaxL) {
    link.txrxok = 0;
    comdrv_rbuf[ft12::kTextOffset] = 0;
    return;
  }
  link.txrxok = comdrv_rbuf[L + ft12::kOverhead - 1] == ft12::kEnd ? 1 : 0;
  comdrv_rbuf[L + ft12::kOverhead - 2] = 0;
  if (L < ft12::kMinAnswerL) comdrv_rbuf[ft12::kTextOffset] = 0;
}

void drop_stragglers(Port* hPort) {
  if (hPort) drop_until_silent(*hPort, kMinStragglerWindows, kMaxStragglerWindows);
}

// Called with the completed frame before it goes out, and with its result after.
void before_sending(LinkState& link, const unsigned char* frame, std::size_t n) {
  LastRequest& last = link.last;
  const bool retry = last.same_as(frame, n);
  if (retry && !last.answered) last.retried = true;
  if (!retry && last.retried) {
    drop_stragglers(link.hPort.get());
    last.retried = false;
  }
  std::memcpy(last.frame, frame, n);
  last.length = n;
}

// A line that carried bytes but never an answer frame is no silent board: the far end speaks at
// another baud rate or parity, or something else is wired to the port. The console line stays "Error: No
// response."; this says what came, for standard error and the run's end event.
std::string unframed_detail(std::size_t bytes) {
  return "No response: " + std::to_string(bytes) +
         " bytes came in the read windows, but no answer frame among them (look at the baud rate, the parity "
         "and the wiring)";
}

void copy_answer_text(LinkState& link) {
  std::strncpy(link.o, reinterpret_cast<const char*>(link.comdrv_rbuf + ft12::kTextOffset), sizeof link.o - 1);
  link.o[sizeof link.o - 1] = 0;
}

}  // namespace

int posli_telegram(const unsigned char* tel, int delka) {
  LinkState& link = link_state();
  check_interrupt();
  std::memcpy(link.txbuff, tel, kFrameBuf);
  std::memset(link.comdrv_rbuf, 0, kFrameBuf);
  if (delka < static_cast<int>(kMinFrame) || delka > static_cast<int>(kFrameBuf)) {
    link.txrxok = 0;  // a frame that can't be built is never sent
    return 0;
  }
  ft12::complete_frame(link.txbuff, static_cast<std::size_t>(delka));
  before_sending(link, link.txbuff, static_cast<std::size_t>(delka));
  const std::size_t got = send_and_receive(link, static_cast<std::size_t>(delka));
  judge_answer(link);
  if (!link.txrxok) link.unframed_bytes += got;
  // A window cut short by an interruption is no missing answer to report or repeat; a complete answer
  // read before it still counts.
  if (!link.txrxok) check_interrupt();
  link.last.answered = link.txrxok == 1;
  if (!link.txrxok) end_if_connection_lost(link);
  end_if_unasked_answers(link);
  return 0;
}

void check_last_answer() {
  LinkState& link = link_state();
  if (link.hPort) link.hPort->listen_after_last_answer();
  end_if_unasked_answers(link);
}

std::string_view answer() {
  const char* o = link_state().o;
  return std::string_view(o, strnlen(o, sizeof LinkState::o));
}

void sendc(const char* p) {
  LinkState& link = link_state();
  int pokus = kTelegramAttempts;
  link.o[0] = 0;
  link.unframed_bytes = 0;
  const bool await_answer = p[0] != kNoAnswerMark;
  const char* text = await_answer ? p : p + 1;
  const std::size_t len = std::strlen(text);
  if (len > kMaxCommandText) {
    mprintf("Error: Command too long (%3d characters, at most %3d).\n", static_cast<int>(len),
            static_cast<int>(kMaxCommandText));
    finish(ExitCode::FileFailed);
  }
  char* request = link.request;
  std::memset(request, 0, sizeof link.request);
  std::memcpy(request, ft12::kPrefix, ft12::kPrefixSize);
  std::memcpy(request + ft12::kPrefixSize, text, len);
  const int delka = static_cast<int>(ft12::kPrefixSize + len + ft12::kTrailerSize);
  const auto* frame = reinterpret_cast<const unsigned char*>(request);
  if (!await_answer) {
    posli_telegram(frame, delka);
    vyckej(1);
    return;
  }
  do {
    ocekavej_telegram();
    posli_telegram(frame, delka);
    vyckej(1);
    if (link.txrxok == 1) {
      copy_answer_text(link);
      return;
    }
    --pokus;
    mprintf(".");
    if (pokus) transfer_retried(Retry::Text);
  } while (pokus);
  if (link.unframed_bytes) set_error_detail(unframed_detail(link.unframed_bytes));
  mprintf(kNoResponseError);
  finish(ExitCode::NoResponse);
}

LinkState& link_state() {
  static LinkState the_link;  // the owner: constructed at first use, so no start-up order matters
  return the_link;
}

// The old state goes when `state` does: its port is closed, then its trace.
void fresh_link() {
  auto state = std::make_unique<LinkState>();
  std::swap(link_state(), *state);
}

void link_set_early_end(bool on) { link_state().early_end = on; }
bool link_early_end() { return link_state().early_end; }

void link_attach(std::unique_ptr<Port> port) {
  link_state().hPort = std::move(port);
  trace_open(link_settings().trace_path);
}
void link_detach() {
  link_state().hPort.reset();
  trace_close();
}
bool link_attached() { return link_state().hPort != nullptr; }

}  // namespace vx
