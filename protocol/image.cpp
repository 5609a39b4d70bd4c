#include "protocol/image.h"

#include <cstdio>
#include <cstring>

namespace vx::image {

std::string describe(Place place) {
  char text[40];
  switch (place.kind) {
    case Place::Kind::File: return "";
    case Place::Kind::Line:
      std::snprintf(text, sizeof text, "line %llu", static_cast<unsigned long long>(place.number));
      break;
    case Place::Kind::Segment:
      std::snprintf(text, sizeof text, "program header %llu", static_cast<unsigned long long>(place.number));
      break;
    case Place::Kind::Offset:
      std::snprintf(text, sizeof text, "offset 0x%llX", static_cast<unsigned long long>(place.number));
      break;
  }
  return text;
}

Image::Page& Image::page_of(std::uint32_t address) {
  std::unique_ptr<Page>& page = pages_[address / kPageSize];
  if (!page) {
    page = std::make_unique<Page>();
    ++pages_made_;
  }
  return *page;
}

bool Image::put(std::uint32_t address, std::uint8_t value) {
  Page& page = page_of(address);
  const std::size_t i = address % kPageSize;
  std::uint8_t* block_mask = page.mask.data() + i / kBlockSize * kMaskBytes;
  if (mask_bit(block_mask, i % kBlockSize)) return page.bytes[i] == value;
  page.bytes[i] = value;
  set_mask_bit(block_mask, i % kBlockSize);
  ++bytes_;
  return true;
}

void Image::replace(std::uint32_t address, std::uint8_t value) {
  if (!put(address, value)) page_of(address).bytes[address % kPageSize] = value;
}

std::size_t Image::put_run(std::uint32_t address, const std::uint8_t* bytes, std::size_t n) {
  constexpr std::size_t kBitsPerMaskByte = 8;
  std::size_t done = 0;
  while (done < n) {
    const std::uint32_t at = address + static_cast<std::uint32_t>(done);
    const std::size_t i = at % kPageSize;
    // The blocks' masks side by side are one bitmap of the page: byte i / 8, bit i % 8.
    std::uint8_t* mask_byte = page_of(at).mask.data() + i / kBitsPerMaskByte;
    if (i % kBitsPerMaskByte == 0 && n - done >= kBitsPerMaskByte && *mask_byte == 0) {
      std::memcpy(page_of(at).bytes.data() + i, bytes + done, kBitsPerMaskByte);
      *mask_byte = 0xFF;
      bytes_ += kBitsPerMaskByte;
      done += kBitsPerMaskByte;
      continue;
    }
    if (!put(at, bytes[done])) break;
    ++done;
  }
  return done;
}

bool Image::has(std::uint32_t address) const {
  const std::unique_ptr<Page>& page = pages_[address / kPageSize];
  const std::size_t i = address % kPageSize;
  return page && mask_bit(page->mask.data() + i / kBlockSize * kMaskBytes, i % kBlockSize);
}

std::uint8_t Image::at(std::uint32_t address) const {
  const std::unique_ptr<Page>& page = pages_[address / kPageSize];
  return page ? page->bytes[address % kPageSize] : 0;
}

Refusal outside(Place place, std::uint64_t first_outside) {
  return Refusal{Fault::Outside, place, "data lies outside the memory 000000-FFFFFF", first_outside};
}

std::optional<Refusal> ImageBuilder::add(const DataRecord& record) {
  // Compared without forming address + size, which wraps for an address near 2^64.
  if (record.size && (record.address >= kAddressSpace || record.size > kAddressSpace - record.address))
    return outside(record.place, record.address < kAddressSpace ? kAddressSpace : record.address);
  const auto address = static_cast<std::uint32_t>(record.address);
  std::size_t stored = 0;
  for (;;) {
    stored += image_.put_run(address + static_cast<std::uint32_t>(stored), record.bytes + stored, record.size - stored);
    if (stored == record.size) return std::nullopt;
    if (rewrites_ == Rewrites::Refused) break;
    image_.replace(address + static_cast<std::uint32_t>(stored), record.bytes[stored]);
    ++stored;
  }
  return Refusal{Fault::Overlap, record.place, "writes other bytes where an earlier record wrote",
                 address + static_cast<std::uint32_t>(stored)};
}

void FirstPlaceOf::add(const DataRecord& record) {
  if (!place_ && address_ >= record.address && address_ - record.address < record.size) place_ = record.place;
}

std::uint32_t end_record_address(const Image& image) {
  if (!image.start || *image.start >= kAddressSpace) return 0;
  return static_cast<std::uint32_t>(*image.start);
}

}  // namespace vx::image
