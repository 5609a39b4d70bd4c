#include "board/session.h"

#include <optional>
#include <string>
#include <utility>

#include "protocol/text.h"

namespace vx::board {

namespace {

// The request's text (not for a block, which is binary), what the board did, and the answer's text.
// A text that is not printable is left out: its bytes are on the line already.
std::string describe(const Board& board, std::string_view text, const Reply& reply) {
  const bool binary = board.classify(text) == Telegram::Block;
  const std::optional<std::string> request = binary ? std::nullopt : quoted_text(text);
  const std::optional<std::string> answer = quoted_text(reply.text);
  const std::string s = request ? *request + " " + reply.note : reply.note;
  return answer ? s + " -> " + *answer : s;
}

}  // namespace

Micros LineModel::byte_time() const {
  if (baud == 0) return Micros{0};
  return Micros{(1000000LL * bits_per_byte + baud - 1) / baud};
}

bool is_request_for_board(const Bytes& frame) {
  return frame.size() >= ft12::kTextOffset + ft12::kTrailerSize && frame[ft12::kControlAt] == ft12::kControl &&
         frame[ft12::kAddressAt] == ft12::kAddress && frame[ft12::kTagAt] == ft12::kUserTag0 &&
         frame[ft12::kTagAt + 1] == ft12::kUserTag1;
}

std::string_view request_text(const Bytes& frame) {
  if (frame.size() < ft12::kTextOffset + ft12::kTrailerSize) return {};
  return std::string_view(reinterpret_cast<const char*>(frame.data()) + ft12::kTextOffset,
                          frame.size() - ft12::kTextOffset - ft12::kTrailerSize);
}

Session::Session(Board& board, FaultPlan faults, LineModel model, Log log)
    : board_(board),
      faults_(std::move(faults)),
      model_(model),
      log_(std::move(log)),
      transmitter_(model.wire_paced ? Micros{0} : model.byte_time()) {}

void Session::receive(Micros now, const std::uint8_t* p, std::size_t n) {
  if (!receiver_.idle() && now - last_input_ > kFrameIdle) {
    receiver_.reset();
    log_.note(now, "unfinished frame thrown away: the line was idle");
  }
  last_input_ = now;
  // The receiver rejects a run of garbage a byte at a time; the log shows it as one line per reason.
  Bytes rejected;
  std::string_view why;
  auto log_rejected = [&] {
    if (!rejected.empty()) log_.bytes(now, "rej", rejected, why);
    rejected.clear();
  };
  for (auto& event : receiver_.feed(p, n)) {
    if (event.kind == ft12::Receiver::Event::Kind::Frame) {
      log_rejected();
      on_frame(now, event.bytes);
      continue;
    }
    counts_.rejected += event.bytes.size();
    std::string_view reason = event.why ? event.why : "";
    if (reason != why) log_rejected();
    why = reason;
    rejected.insert(rejected.end(), event.bytes.begin(), event.bytes.end());
  }
  log_rejected();
}

Micros Session::answer_time(Micros now, std::size_t request_size) const {
  Micros t = now + std::chrono::duration_cast<Micros>(model_.think);
  if (!model_.wire_paced) t += model_.byte_time() * static_cast<long>(request_size);
  return t;
}

void Session::on_frame(Micros now, const Bytes& frame) {
  if (frame.size() > ft12::kBufSize) {
    ++counts_.ignored;
    log_.bytes(now, "in", frame,
               "longer than the board's " + std::to_string(ft12::kBufSize) + "-byte frame buffer: no answer");
    return;
  }
  if (!is_request_for_board(frame)) {
    ++counts_.ignored;
    log_.bytes(now, "in", frame, "not a request for this board: no answer");
    return;
  }
  ++counts_.telegrams;
  std::string_view text = request_text(frame);
  Telegram kind = board_.classify(text);
  FaultDecision d = faults_.next(kind == Telegram::Block);
  if (kind != Telegram::Read) d.ragged = 0;  // only a read's answer has a length to get wrong
  std::string faults = d.names();
  // The line's echo, not the board's: it comes back at once, whatever the board does.
  if (d.echo) transmitter_.send(Emission{now, {Part{Micros{0}, frame, "echo", "the line's echo"}}});
  if (d.silent) {
    log_.bytes(now, "in", frame, "board silent: no answer");
    return;
  }
  Reply reply = d.refuse ? Reply{std::string(kRefusedBlock), "block refused by fault"} : board_.answer(text);
  if (d.ragged) reply.text = ragged_read_answer(std::move(reply.text), d.ragged);
  if (reply.text.size() > kMaxAnswerText) reply.text.resize(kMaxAnswerText);  // what one frame holds
  log_.bytes(now, "in", frame, describe(board_, text, reply) + (faults.empty() ? "" : "  [" + faults + "]"));
  Bytes answer = ft12::text_answer(reply.text);
  if (d.drop) {
    log_.bytes(now, "drop", answer, "answer not sent");
    return;
  }
  if (!d.garbage.empty()) {
    log_.bytes(now, "drop", answer, "answer not sent: garbage in its place");
    transmitter_.send(Emission{answer_time(now, frame.size()), {Part{Micros{0}, std::move(d.garbage), "garbage", ""}}});
    return;
  }
  Emission e{answer_time(now, frame.size()), shape_answer(std::move(answer), d)};
  if (d.late) e.earliest += std::chrono::duration_cast<Micros>(*d.late);
  ++counts_.answered;
  transmitter_.send(std::move(e));
}

}  // namespace vx::board
