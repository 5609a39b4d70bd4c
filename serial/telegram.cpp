#include "serial/telegram.h"

#include <cstring>

#include "console/finish.h"
#include "console/mprintf.h"
#include "serial/comdrv.h"
#include "protocol/frame.h"
#include "serial/trace.h"

namespace vx {

unsigned char txbuff[256];
unsigned char comdrv_rbuf[256];
int txrxok = 0;
char o[256];

namespace {

std::unique_ptr<Port> hPort;
bool g_early_end = true;
char b[256];  // the request being built by sendc: prefix, command text, terminating zero

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

struct LastRequest {
  unsigned char frame[kFrameBuf] = {};
  std::size_t length = 0;
  bool answered = true;
  bool retried = false;  // sent again after an unanswered attempt: a second answer may be on its way

  bool same_as(const unsigned char* f, std::size_t n) const { return n == length && std::memcmp(f, frame, n) == 0; }
};
LastRequest g_last;

Millis write_limit(std::size_t n) { return Millis(2 * static_cast<long>(n) + 200); }

void send_and_receive(std::size_t delka) {
  if (!hPort) return;  // no port: the exchange simply gets no answer
  const bool sent = hPort->write_frame(txbuff, delka, write_limit(delka));
  trace_sent(txbuff, delka, sent);
  const std::size_t got =
      hPort->read_window(comdrv_rbuf, kFrameBuf, ReadWindow::for_read_of(kFrameBuf, g_early_end));
  trace_received(comdrv_rbuf, got);
}

// txrxok and the zero that ends the answer text. An L above 250 would put the end byte past the
// buffer: no answer. An L below 4 carries no text: the text is empty.
void judge_answer() {
  const unsigned L = ft12::answer_L(comdrv_rbuf);
  if (L > ft12::kMaxL) {
    txrxok = 0;
    comdrv_rbuf[ft12::kTextOffset] = 0;
    return;
  }
  txrxok = comdrv_rbuf[L + ft12::kOverhead - 1] == ft12::kEnd ? 1 : 0;
  comdrv_rbuf[L + ft12::kOverhead - 2] = 0;
  if (L < ft12::kMinAnswerL) comdrv_rbuf[ft12::kTextOffset] = 0;
}

void drop_stragglers() {
  if (!hPort) return;
  unsigned char scratch[kFrameBuf];
  for (int window = 0; window < kMaxStragglerWindows; ++window) {
    const std::size_t got = hPort->read_window(scratch, sizeof scratch, ReadWindow::for_read_of(kFrameBuf));
    if (got) trace_dropped(scratch, got);
    if (got == 0 && window + 1 >= kMinStragglerWindows) return;
  }
}

// Called with the completed frame before it goes out, and with its result after.
void before_sending(const unsigned char* frame, std::size_t n) {
  const bool retry = g_last.same_as(frame, n);
  if (retry && !g_last.answered) g_last.retried = true;
  if (!retry && g_last.retried) {
    drop_stragglers();
    g_last.retried = false;
  }
  std::memcpy(g_last.frame, frame, n);
  g_last.length = n;
}

void copy_answer_text() {
  std::strncpy(o, reinterpret_cast<const char*>(comdrv_rbuf + ft12::kTextOffset), sizeof o - 1);
  o[sizeof o - 1] = 0;
}

}  // namespace

int posli_telegram(const unsigned char* tel, int delka) {
  std::memcpy(txbuff, tel, kFrameBuf);
  std::memset(comdrv_rbuf, 0, kFrameBuf);
  if (delka < static_cast<int>(kMinFrame) || delka > static_cast<int>(kFrameBuf)) {
    txrxok = 0;  // a frame that can't be built is never sent
    return 0;
  }
  ft12::complete_frame(txbuff, static_cast<std::size_t>(delka));
  before_sending(txbuff, static_cast<std::size_t>(delka));
  send_and_receive(static_cast<std::size_t>(delka));
  judge_answer();
  g_last.answered = txrxok == 1;
  return 0;
}

std::string_view answer() { return std::string_view(o, strnlen(o, sizeof o)); }

void sendc(const char* p) {
  int pokus = kTelegramAttempts;
  o[0] = 0;
  const bool await_answer = p[0] != kNoAnswerMark;
  const char* text = await_answer ? p : p + 1;
  const std::size_t len = std::strlen(text);
  if (len > kMaxCommandText) {
    mprintf("Error: Command too long (%3d characters, at most %3d).\n", static_cast<int>(len),
            static_cast<int>(kMaxCommandText));
    finish(3);
  }
  std::memset(b, 0, sizeof b);
  std::memcpy(b, ft12::kPrefix, ft12::kPrefixSize);
  std::memcpy(b + ft12::kPrefixSize, text, len);
  const int delka = static_cast<int>(ft12::kPrefixSize + len + 2);
  const auto* frame = reinterpret_cast<const unsigned char*>(b);
  if (!await_answer) {
    posli_telegram(frame, delka);
    vyckej(1);
    return;
  }
  do {
    ocekavej_telegram();
    posli_telegram(frame, delka);
    vyckej(1);
    if (txrxok == 1) {
      copy_answer_text();
      return;
    }
    --pokus;
    mprintf(".");
  } while (pokus);
  mprintf("Error: No response.\n");
  finish(5);
}

void link_reset() {
  std::memset(txbuff, 0, sizeof txbuff);
  std::memset(comdrv_rbuf, 0, sizeof comdrv_rbuf);
  std::memset(o, 0, sizeof o);
  txrxok = 0;
  g_last = LastRequest{};
}

void link_set_early_end(bool on) { g_early_end = on; }
bool link_early_end() { return g_early_end; }

void link_attach(std::unique_ptr<Port> port) {
  hPort = std::move(port);
  trace_open_from_environment();
}
void link_detach() {
  hPort.reset();
  trace_close();
}
bool link_attached() { return hPort != nullptr; }

}  // namespace vx
