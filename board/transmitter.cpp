#include "board/transmitter.h"

#include <algorithm>

namespace vx::board {

void Transmitter::send(Emission e) {
  std::erase_if(e.parts, [](const Part& p) { return p.bytes.empty(); });
  if (e.parts.empty()) return;
  // After every emission that is due no later, so equal times keep their order; never before the
  // front one once it is on the line.
  auto at = std::upper_bound(queue_.begin(), queue_.end(), e.earliest,
                             [](Micros t, const Emission& q) { return t < q.earliest; });
  bool front_on_line = part_ > 0 || sent_ > 0;
  if (at == queue_.begin() && front_on_line) ++at;
  queue_.insert(at, std::move(e));
}

Micros Transmitter::part_start() const {
  if (start_) return *start_;
  const Emission& e = queue_.front();
  Micros from = part_ == 0 ? std::max(e.earliest, line_free_) : line_free_;
  return from + e.parts[part_].gap;
}

std::size_t Transmitter::bytes_due(Micros start, Micros now) const {
  std::size_t left = queue_.front().parts[part_].bytes.size() - sent_;
  if (byte_time_.count() == 0) return now >= start ? left : 0;
  Micros horizon = now + kPacingSlice;
  if (horizon < start) return 0;
  auto due_until = static_cast<std::size_t>((horizon - start) / byte_time_) + 1;  // bytes 0..k due
  return due_until > sent_ ? std::min(left, due_until - sent_) : 0;
}

void Transmitter::finish_part(Micros start) {
  const Emission& e = queue_.front();
  line_free_ = start + byte_time_ * static_cast<long>(e.parts[part_].bytes.size());
  start_.reset();
  sent_ = 0;
  if (++part_ == e.parts.size()) {
    queue_.pop_front();
    part_ = 0;
  }
}

std::optional<Micros> Transmitter::next_due() const {
  if (queue_.empty()) return std::nullopt;
  return part_start() + byte_time_ * static_cast<long>(sent_);
}

std::vector<Write> Transmitter::take_due(Micros now) {
  std::vector<Write> writes;
  while (!queue_.empty()) {
    Micros start = part_start();
    std::size_t n = bytes_due(start, now);
    if (n == 0) break;
    const Part& part = queue_.front().parts[part_];
    Write w;
    w.due = start + byte_time_ * static_cast<long>(sent_);
    if (sent_ == 0) w.started = part;
    auto from = part.bytes.begin() + static_cast<std::ptrdiff_t>(sent_);
    w.bytes.assign(from, from + static_cast<std::ptrdiff_t>(n));
    writes.push_back(std::move(w));
    start_ = start;
    sent_ += n;
    if (sent_ < part.bytes.size()) break;
    finish_part(start);
  }
  return writes;
}

}  // namespace vx::board
