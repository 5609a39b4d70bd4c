// S2/S8 records into 128-byte blocks.
//
// binwrite stores a record's data bytes into the current block (binadr, binbuf, binmask); the block
// goes to the board when a record's address leaves it, and at an S8 record, which also goes itself as
// a text telegram and must be confirmed with "%*". sendbin packs the pending block (protocol/block.h),
// sends it with up to eight attempts and leaves the answer in `o`.
//
// Every pair is checked before it is used and every access to a line stays inside its string: a short
// line fails at the first pair it lacks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/finish.h"
#include "console/mprintf.h"
#include "console/outcome.h"
#include "console/transfer.h"
#include "protocol/block.h"
#include "protocol/hex.h"
#include "loader/loader.h"
#include "loader/record_head.h"
#include "loader/state.h"
#include "serial/link.h"
#include "serial/comdrv.h"
#include "protocol/frame.h"
#include "serial/telegram.h"

namespace vx {

namespace {

constexpr int kBlockAttempts = 8;
constexpr std::size_t kDetailHeadRoom = 64;  // "block 012300 was not accepted in 8 attempts: "
// posli_telegram is given the frame length: what was built plus the checksum and the end byte.
constexpr std::size_t kChecksumAndEnd = 2;

using record::bad_format;
using record::field;
using record::kDataPos;
using record::kPairWidth;
using record::kTerminationType;
using record::kTypePos;

constexpr char kBlockAccepted = '*';
constexpr char kRefusal = '!';
constexpr char kS8Confirmation[] = "%*";
constexpr char kNegativeMarks[] = "!?";

// The answer text of the last exchange, zero-terminated whatever the buffer holds after byte 8.
struct AnswerText {
  char text[ft12::kBufSize - ft12::kTextOffset + 1] = {};
  AnswerText() {
    const char* src = reinterpret_cast<const char*>(link_state().comdrv_rbuf) + ft12::kTextOffset;
    std::memcpy(text, src, strnlen(src, sizeof text - 1));
  }
};

bool block_answer_accepted(const char* a) {
  if (a[0] == kBlockAccepted) return true;
  return a[0] != '\0' && a[0] != kRefusal && a[1] == kBlockAccepted;
}

bool s8_answer_accepted(const char* a) {
  return std::strncmp(a, kS8Confirmation, std::strlen(kS8Confirmation)) == 0 &&
         std::strpbrk(a, kNegativeMarks) == nullptr;
}

std::size_t build_block_telegram(unsigned char (&tel)[ft12::kBufSize], const BlockPayload& payload) {
  std::memcpy(tel, ft12::kPrefix, ft12::kPrefixSize);
  std::memcpy(tel + ft12::kPrefixSize, payload.bytes.data(), payload.size);
  return ft12::kPrefixSize + payload.size;
}


// The data bytes the pending block holds: what the board has once it accepts the block.
int bytes_present(const LoaderState& block) {
  int n = 0;
  for (std::size_t i = 0; i < kBlockSize; ++i) n += mask_bit(block.binmask, i) ? 1 : 0;
  return n;
}

// What the console's "Error:%c|%s|" leaves out: which block, how often it went, what came back.
std::string refusal_detail(std::uint32_t address, int attempts, bool answered) {
  char head[kDetailHeadRoom];
  const int n = std::snprintf(head, sizeof head, "block %06X was not accepted in %d attempt%s: ", address, attempts,
                              attempts == 1 ? "" : "s");
  std::string detail(head, n > 0 ? static_cast<std::size_t>(std::min<int>(n, sizeof head - 1)) : 0);
  if (!answered) return detail + "no complete answer came back";
  return detail + "the board answered \"" + AnswerText().text + "\"";
}

void move_to_block_of(LoaderState& block, std::uint32_t a) {
  if ((a & kBlockAddressMask) != block.binadr) sendbin();
  block.binadr = a & kBlockAddressMask;
}

void store_data(record::Head r, const char* data) {
  LoaderState& block = loader_state();
  std::uint32_t a = r.address;
  std::uint32_t remaining = r.data_bytes;
  do {
    move_to_block_of(block, a);
    std::size_t i = a - block.binadr;
    for (; remaining > 0 && i < kBlockSize; ++i, --remaining, data += kPairWidth) {
      block.binbuf[i] = static_cast<unsigned char>(gethb(data));
      set_mask_bit(block.binmask, i);
    }
    a = block.binadr + kBlockSize;
  } while (remaining > 0);
}

void finish_download(const char* line) {
  if (block_pending()) sendbin();
  mprintf("\rFlushing write buffer  ");
  sendc(line);
  const char* answer = link_state().o;
  if (!s8_answer_accepted(answer)) {
    mprintf("\nError: Unexpected response: %s\n", answer);
    finish(ExitCode::NegativeInFile);
  }
  mprintf("OK");
}

}  // namespace

unsigned gethb(const char* p) {
  int high = hex_digit(p[0]);
  if (high < 0) bad_format(p);
  int low = hex_digit(p[1]);
  if (low < 0) bad_format(p);
  return static_cast<unsigned>(high * 16 + low);
}

void binwrite(const char* line) {
  mprintf("\rPacking...");
  const record::Head r = record::read_head(line);
  store_data(r, line + kDataPos);
  if (field(line, kTypePos)[0] == kTerminationType) finish_download(line);
}

void sendbin() {
  if (!block_pending()) return;
  LoaderState& block = loader_state();
  BlockPayload payload = encode_block(block.binadr, block.binbuf, block.binmask);
  unsigned char tel[ft12::kBufSize] = {};
  std::size_t built = build_block_telegram(tel, payload);
  int attempts = 0;
  bool answered = false;
  while (attempts < kBlockAttempts) {
    ++attempts;
    mprintf("   Sending block %06X   ", block.binadr);
    ocekavej_telegram();
    posli_telegram(tel, static_cast<int>(built + kChecksumAndEnd));
    vyckej(1);
    if (!link_state().txrxok) continue;
    answered = true;
    AnswerText answer;
    if (!block_answer_accepted(answer.text)) break;
    transfer_advance(bytes_present(block));
    std::memset(block.binmask, 0, sizeof block.binmask);
    std::memcpy(link_state().o, answer.text, sizeof answer.text);
    mprintf("OK");
    return;
  }
  set_error_detail(refusal_detail(block.binadr, attempts, answered));
  mprintf("\nError:%c|%s|\n", payload.letter(), AnswerText().text);
  finish(ExitCode::TargetRefused);
}

bool block_pending() { return mask_any(loader_state().binmask); }

}  // namespace vx
