// posli_telegram's and sendc's answer handling on arbitrary received bytes, through the real read
// window (collect_window, the early end and what is dropped or kept after it) on a fake clock.
//
// Input: one byte of settings (bit 0: the full read window instead of the early end), then for each
// request the board receives a script of what comes back: a byte for the number of chunks (0-3), and
// per chunk a byte for the gap before it (in 2 ms steps, 0-510 ms, so bytes can fall inside, between
// and after windows) and a byte for its length, then its bytes. An exhausted input is silence.
//
// The loader exchanges, in turn, the identity query, a block telegram and a read, each run to its end.
// Invariants: a frame judged answered has its end byte where its L puts it, inside the buffer; the
// answer text is always zero-terminated inside its buffer; sendc returns only with an answer, and
// otherwise ends with exit code 5; a block telegram exchange never ends the run.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "console/finish.h"
#include "loader/run.h"
#include "fuzz/fuzz_support.h"
#include "serial/comdrv.h"
#include "serial/link.h"
#include "protocol/frame.h"
#include "serial/telegram.h"
#include "tests/support/scripted_board.h"

namespace {

using vx::fuzz::require;
using vx::test::Chunk;

constexpr int kMaxChunks = 4;
constexpr long kGapStepMicros = 2000;
constexpr int kNoAnswerExit = vx::exit_status(vx::ExitCode::NoResponse);

class Script {
 public:
  Script(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  std::uint8_t byte() {
    if (!n_) return 0;
    --n_;
    return *p_++;
  }
  std::vector<Chunk> next_answer() {
    std::vector<Chunk> chunks(byte() % kMaxChunks);
    for (auto& c : chunks) {
      c.gap = vx::Micros(byte() * kGapStepMicros);
      const std::size_t len = std::min<std::size_t>(byte(), n_);
      c.bytes.assign(p_, p_ + len);
      p_ += len;
      n_ -= len;
    }
    return chunks;
  }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

void check_frame_judgement() {
  const vx::LinkState& link = vx::link_state();
  require(link.txrxok == 0 || link.txrxok == 1, "txrxok is neither 0 nor 1");
  const unsigned L = link.comdrv_rbuf[1];
  const std::size_t end_at = L + vx::ft12::kOverhead - 1;
  // With L = 3 the end byte stands where the text begins, and the empty text's zero replaced it.
  if (link.txrxok)
    require(L <= vx::ft12::kMaxL && (link.comdrv_rbuf[end_at] == vx::ft12::kEnd || end_at == vx::ft12::kTextOffset),
            "an answer was taken without its end byte at L+5");
  const auto* text = reinterpret_cast<const char*>(link.comdrv_rbuf + vx::ft12::kTextOffset);
  require(strnlen(text, vx::ft12::kBufSize - vx::ft12::kTextOffset) < vx::ft12::kBufSize - vx::ft12::kTextOffset,
          "the answer text is not zero-terminated inside the buffer");
}

void exchange_text(const char* command) {
  const auto code = vx::fuzz::exit_code_of([&] { vx::sendc(command); });
  check_frame_judgement();
  if (code) {
    require(*code == kNoAnswerExit, "sendc ended with exit code " + std::to_string(*code));
    return;
  }
  const vx::LinkState& link = vx::link_state();
  require(link.txrxok == 1, "sendc returned without an answer");
  require(strnlen(link.o, sizeof link.o) < sizeof link.o, "the answer buffer o is not zero-terminated");
  require(std::strcmp(link.o, reinterpret_cast<const char*>(link.comdrv_rbuf + vx::ft12::kTextOffset)) == 0,
          "o is not the answer frame's text");
}

void exchange_block() {
  // A run block of three bytes, as sendbin builds it (prefix, payload, CRC; L, sum and end are added).
  const std::uint8_t payload[] = {0x73, 0x45, 0x23, 0x01, 0x03, 0x11, 0x22, 0x33, 0x27, 0x84};
  unsigned char tel[vx::ft12::kBufSize] = {};
  std::memcpy(tel, vx::ft12::kPrefix, vx::ft12::kPrefixSize);
  std::memcpy(tel + vx::ft12::kPrefixSize, payload, sizeof payload);
  const auto code = vx::fuzz::exit_code_of(
      [&] { vx::posli_telegram(tel, static_cast<int>(vx::ft12::kPrefixSize + sizeof payload + 2)); });
  // One exchange never fails by itself, unless the line delivered an answer nobody asked for: that ends
  // the run with the code of a failed line.
  if (code) require(*code == kNoAnswerExit, "posli_telegram ended the run with exit code " + std::to_string(*code));
  check_frame_judgement();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Script script(data, size);
  const bool full_window = script.byte() & 1;

  vx::test::ScriptedBoard board;
  board.handler = [&script](const vx::test::Bytes&) { return script.next_answer(); };
  vx::fresh_run();
  board.install();
  vx::set_diagnostic_sink([](const std::string&) {});
  require(vx::zapni_UART(vx::fuzz::kCom1, vx::fuzz::kIrq, vx::fuzz::kBaud, 0) == 0, "the scripted port did not open");
  vx::link_set_early_end(!full_window);

  exchange_text("I000000\n");
  exchange_block();
  exchange_text("R000000,40\n");

  vx::comdrv_close();
  vx::test::ScriptedBoard::uninstall();
  return 0;
}
