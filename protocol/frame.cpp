#include "protocol/frame.h"

#include <algorithm>

namespace vx::ft12 {

std::uint8_t checksum(const std::uint8_t* p, std::size_t n) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += p[i];
  return static_cast<std::uint8_t>(sum);
}

void complete_frame(std::uint8_t* frame, std::size_t delka) {
  const std::uint8_t L = static_cast<std::uint8_t>(delka - kOverhead);
  frame[1] = L;
  frame[2] = L;
  frame[delka - 1] = kEnd;
  frame[delka - 2] = checksum(frame + kHeaderSize, delka - kOverhead);
}

bool answer_complete(const std::uint8_t* rbuf, std::size_t n) {
  if (n < 2) return false;
  const unsigned L = answer_L(rbuf);
  if (L > kMaxL) return false;
  const std::size_t end_at = L + kOverhead - 1;
  return end_at < n && rbuf[end_at] == kEnd;
}

std::vector<std::uint8_t> make_frame(const std::uint8_t* user, std::size_t n, std::uint8_t control,
                                     std::uint8_t address) {
  const std::size_t L = n + 2;
  std::vector<std::uint8_t> f;
  f.reserve(L + kOverhead);
  f.push_back(kStart);
  f.push_back(static_cast<std::uint8_t>(L));
  f.push_back(static_cast<std::uint8_t>(L));
  f.push_back(kStart);
  f.push_back(control);
  f.push_back(address);
  f.insert(f.end(), user, user + n);
  f.push_back(checksum(f.data() + kHeaderSize, L));
  f.push_back(kEnd);
  return f;
}

namespace {
std::vector<std::uint8_t> tagged(std::string_view text) {
  std::vector<std::uint8_t> user(text.size() + 2);
  user[0] = kUserTag0;
  user[1] = kUserTag1;
  std::copy(text.begin(), text.end(), user.begin() + 2);
  return user;
}
}  // namespace

std::vector<std::uint8_t> text_request(std::string_view text) {
  auto user = tagged(text);
  return make_frame(user.data(), user.size());
}

std::vector<std::uint8_t> text_answer(std::string_view text, std::uint8_t control) {
  auto user = tagged(text);
  return make_frame(user.data(), user.size(), control, kAddress);
}

// Frames are taken apart as they come: a byte that can't start a frame is rejected alone, a frame whose
// header is wrong is rejected at its first byte (the receiver then hunts for the next start byte), and a
// frame whose length is complete is checked whole.
std::vector<Receiver::Event> Receiver::feed(const std::uint8_t* p, std::size_t n) {
  std::vector<Event> events;
  pending_.insert(pending_.end(), p, p + n);
  std::size_t pos = 0;
  auto reject = [&](std::size_t count, const char* why) {
    events.push_back(Event{Event::Kind::Rejected,
                           std::vector<std::uint8_t>(pending_.begin() + static_cast<long>(pos),
                                                     pending_.begin() + static_cast<long>(pos + count)),
                           why});
    pos += count;
  };
  while (pos < pending_.size()) {
    const std::size_t avail = pending_.size() - pos;
    const std::uint8_t* f = pending_.data() + pos;
    if (f[0] != kStart) {
      reject(1, "not a start byte");
      continue;
    }
    if (avail < kHeaderSize) break;
    const unsigned L = f[1];
    if (f[2] != L || f[3] != kStart || L < 2) {
      reject(1, "bad header");
      continue;
    }
    const std::size_t len = L + kOverhead;
    if (avail < len) break;
    if (f[len - 1] != kEnd) {
      reject(len, "bad end byte");
    } else if (checksum(f + kHeaderSize, L) != f[len - 2]) {
      reject(len, "bad checksum");
    } else {
      events.push_back(Event{Event::Kind::Frame, std::vector<std::uint8_t>(f, f + len), nullptr});
      pos += len;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(pos));
  return events;
}

}  // namespace vx::ft12
