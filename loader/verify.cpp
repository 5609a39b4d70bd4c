#include "loader/verify.h"

namespace vx {

void ExpectedRuns::put(std::uint32_t address, std::uint8_t value) {
  const std::size_t size = run_.bytes.size();
  if (!size || address != run_.start + size || size == kVerifyRun) {
    flush();
    run_.start = address;
  }
  run_.bytes.push_back(value);
}

void ExpectedRuns::flush() {
  if (run_.bytes.empty()) return;
  check_(run_);
  handed_on_ += run_.bytes.size();
  run_.bytes.clear();
}

void add_image(ExpectedRuns& runs, const image::Image& image) {
  image.for_each_block([&](std::uint32_t base, const std::uint8_t* bytes, const std::uint8_t* mask) {
    for (std::size_t i = 0; i < kBlockSize; ++i)
      if (mask_bit(mask, i)) runs.put(base + static_cast<std::uint32_t>(i), bytes[i]);
  });
  runs.flush();
}

}  // namespace vx
