// S2/S8 records into 128-byte blocks.
//
// binwrite stores a record's data bytes into the current block (binadr, binbuf, binmask); the block
// goes to the board when a record's address leaves it, and at an S8 record, which also goes itself as
// a text telegram and must be confirmed with "%*". So that the board is written in the order the file
// states, the pending block also goes before any other text telegram (command.cpp) and at the end of
// each command file (cmdfile.cpp). sendbin packs the pending block (protocol/block.h), sends it with up
// to eight attempts and leaves the answer in `o`.
//
// A record line is read whole (record_head.h: every pair, the count against the pairs, the checksum)
// before any of its bytes is stored. Data records not yet followed by an S8 are noted in the loader's
// state: a run that ends with such records fails, for the board never confirmed them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/finish.h"
#include "console/mprintf.h"
#include "console/outcome.h"
#include "console/transfer.h"
#include "protocol/answer.h"
#include "protocol/block.h"
#include "protocol/record.h"
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
using record::kTerminationType;

// The answer text of the last exchange, zero-terminated whatever the buffer holds after byte 8.
struct AnswerText {
  char text[ft12::kBufSize - ft12::kTextOffset + 1] = {};
  AnswerText() {
    const char* src = reinterpret_cast<const char*>(link_state().comdrv_rbuf) + ft12::kTextOffset;
    std::memcpy(text, src, strnlen(src, sizeof text - 1));
  }
};

bool block_answer_accepted(const char* a) {
  if (a[0] == answers::kAccepted) return true;
  return a[0] != '\0' && a[0] != answers::kRefused && a[1] == answers::kAccepted;
}

bool s8_answer_accepted(const char* a) {
  return std::strncmp(a, answers::kRecordsEnded, std::strlen(answers::kRecordsEnded)) == 0 &&
         std::strpbrk(a, answers::kNegativeMarks) == nullptr;
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

void store_data(const srecord::Record& r) {
  LoaderState& block = loader_state();
  std::uint32_t a = r.address;
  std::size_t next = 0;
  do {
    move_to_block_of(block, a);
    for (std::size_t i = a - block.binadr; next < r.data_size && i < kBlockSize; ++i, ++next) {
      block.binbuf[i] = r.data[next];
      set_mask_bit(block.binmask, i);
    }
    a = block.binadr + kBlockSize;
  } while (next < r.data_size);
}

}  // namespace

unsigned gethb(const char* p) {
  const int pair = record::pair_at(p);
  if (pair < 0) bad_format(p);
  return static_cast<unsigned>(pair);
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

void binwrite_block(std::uint32_t base, const std::uint8_t* bytes, const std::uint8_t* mask) {
  mprintf("\rPacking...");
  LoaderState& block = loader_state();
  move_to_block_of(block, base);
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    if (!mask_bit(mask, i)) continue;
    block.binbuf[i] = bytes[i];
    set_mask_bit(block.binmask, i);
  }
}

void binwrite(const char* line, const record::Place& where) {
  mprintf("\rPacking...");
  const srecord::Record r = record::read_record(line, where);
  store_data(r);
  if (r.type == kTerminationType) {
    finish_download(line);
    loader_state().unconfirmed_records.clear();
  } else {
    loader_state().unconfirmed_records = where.file;
  }
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
    if (++attempts > 1) transfer_retried(Retry::Block);
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

void send_pending_block() {
  if (!block_pending()) return;
  sendbin();
  mprintf("\n");
}

// Only the S8's "%*" tells that the board took the download; records that end without one may be a file
// cut short (a copy that stopped, a tool that writes no end record), and the run must not pass for one
// that ended well.
void refuse_unconfirmed_records() {
  const std::string& file = loader_state().unconfirmed_records;
  if (file.empty()) return;
  set_error_detail("the S-records of " + file +
                   " ended without their S8 record: the board never confirmed the download and the file may be"
                   " cut short; add the end record (srec_cat writes one when given"
                   " -execution-start-address=ADDRESS), or load the file with @load<FILE, which sends it itself");
  mprintf(
      "\nError: The S-records ended without their S8 record, so the board never confirmed the download"
      " and the file may be cut short.\n");
  finish(ExitCode::FileFailed);
}

}  // namespace vx
