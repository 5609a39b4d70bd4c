// The firmware file readers on arbitrary bytes: the text formats through TextFirmwareReader, in pieces
// whose size the input's first byte chooses, and every input as an ELF file.
//
// Invariants:
//   - a reading ends with an image or a refusal, never a crash, a leak or a read outside a buffer;
//   - the image holds at most the bytes the records gave, and each of them where a record put it, with
//     the byte of the first record that wrote there (a later different byte is a refusal);
//   - an "outside" refusal names an address past FFFFFF, an overlap one where a byte is already placed;
//   - the same input read in other pieces gives the same image and the same refusal.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "loader/elf_image.h"
#include "protocol/firmware.h"
#include "protocol/image.h"

namespace {

using vx::image::DataRecord;
using vx::image::Fault;
using vx::image::Refusal;

struct Reading {
  std::optional<Refusal> refusal;
  std::map<std::uint32_t, std::uint8_t> first_bytes;  // what the first record to reach each address gave
  std::size_t image_size = 0;
};

void check(bool ok) {
  if (!ok) std::abort();
}

Reading read_text(vx::image::Format format, const std::uint8_t* data, std::size_t size, std::size_t piece) {
  Reading reading;
  vx::image::Image image;
  vx::image::ImageBuilder builder(image);
  auto sink = [&](const DataRecord& r) {
    auto refused = builder.add(r);
    for (std::size_t i = 0; i < r.size && !refused; ++i)
      reading.first_bytes.emplace(static_cast<std::uint32_t>(r.address + i), r.bytes[i]);
    return refused;
  };
  vx::image::TextFirmwareReader reader(format, sink);
  for (std::size_t at = 0; at < size && !reading.refusal; at += piece)
    reading.refusal = reader.feed(data + at, std::min(piece, size - at));
  if (!reading.refusal) reading.refusal = reader.finish();
  reading.image_size = image.size();
  if (!reading.refusal) {
    check(image.size() == reading.first_bytes.size());
    for (const auto& [address, value] : reading.first_bytes) check(image.has(address) && image.at(address) == value);
  } else if (reading.refusal->fault == Fault::Outside) {
    check(reading.refusal->address >= vx::kAddressSpace);
  } else if (reading.refusal->fault == Fault::Overlap) {
    check(image.has(static_cast<std::uint32_t>(reading.refusal->address)));
  }
  return reading;
}

void read_as_elf(const std::uint8_t* data, std::size_t size) {
  vx::image::Image image;
  vx::image::ImageBuilder builder(image);
  std::optional<std::uint64_t> start;
  const vx::ReadAt read_at = [&](std::uint64_t offset, std::uint8_t* bytes, std::size_t n) -> std::size_t {
    if (offset >= size) return 0;
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(n, size - offset));
    std::memcpy(bytes, data + offset, got);
    return got;
  };
  auto sink = [&](const DataRecord& r) { return builder.add(r); };
  static_cast<void>(vx::read_elf(size, read_at, sink, start));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 97;
  ++data;
  --size;
  for (auto format : {vx::image::Format::SRecords, vx::image::Format::IntelHex}) {
    const Reading whole = read_text(format, data, size, size ? size : 1);
    const Reading pieces = read_text(format, data, size, piece);
    check(whole.image_size == pieces.image_size && whole.refusal.has_value() == pieces.refusal.has_value());
    if (whole.refusal) check(whole.refusal->why == pieces.refusal->why);
  }
  read_as_elf(data, size);
  return 0;
}
