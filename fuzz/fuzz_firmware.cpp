// The firmware file readers on arbitrary bytes: the text formats through TextFirmwareReader, in pieces
// whose size the input's first byte chooses; every input as an ELF file as it stands, and as the ELF
// file it describes field by field (fuzz/elf_maker.h), read through the loader's ELF reader at offsets.
//
// Invariants:
//   - a reading ends with an image or a refusal, never a crash, a leak or a read outside a buffer;
//   - the image holds at most the bytes the records gave, and each of them where a record put it, with
//     the byte of the first record that wrote there (a later different byte is a refusal);
//   - an "outside" refusal names an address past FFFFFF, an overlap one where a byte is already placed;
//   - the same input read in other pieces gives the same image and the same refusal;
//   - an ELF file is read only inside its bytes, and only a file that loads gives a start address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/elf_maker.h"
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

// The records' sink of one reading: into an image, each record's bytes noted where they were first put.
class Recorder {
 public:
  Recorder() : builder_(image_) {}
  std::optional<Refusal> add(const DataRecord& r) {
    auto refused = builder_.add(r);
    for (std::size_t i = 0; i < r.size && !refused; ++i)
      reading_.first_bytes.emplace(static_cast<std::uint32_t>(r.address + i), r.bytes[i]);
    return refused;
  }
  // The reading's end: the invariants on what was placed and on the refusal.
  Reading finish(std::optional<Refusal> refusal) {
    reading_.refusal = std::move(refusal);
    reading_.image_size = image_.size();
    if (!reading_.refusal) {
      check(image_.size() == reading_.first_bytes.size());
      for (const auto& [address, value] : reading_.first_bytes)
        check(image_.has(address) && image_.at(address) == value);
    } else if (reading_.refusal->fault == Fault::Outside) {
      check(reading_.refusal->address >= vx::kAddressSpace);
    } else if (reading_.refusal->fault == Fault::Overlap) {
      check(image_.has(static_cast<std::uint32_t>(reading_.refusal->address)));
    }
    return reading_;
  }

 private:
  vx::image::Image image_;
  vx::image::ImageBuilder builder_;
  Reading reading_;
};

Reading read_text(vx::image::Format format, const std::uint8_t* data, std::size_t size, std::size_t piece) {
  Recorder recorder;
  vx::image::TextFirmwareReader reader(format, [&](const DataRecord& r) { return recorder.add(r); });
  std::optional<Refusal> refusal;
  for (std::size_t at = 0; at < size && !refusal; at += piece)
    refusal = reader.feed(data + at, std::min(piece, size - at));
  if (!refusal) refusal = reader.finish();
  return recorder.finish(refusal);
}

void read_as_elf(const std::vector<std::uint8_t>& file) {
  Recorder recorder;
  const vx::ReadAt read_at = [&](std::uint64_t offset, std::uint8_t* bytes, std::size_t n) -> std::size_t {
    check(n == 0 || (offset < file.size() && n <= file.size() - offset));  // the reader checked first
    if (n) std::memcpy(bytes, file.data() + offset, n);                    // an empty file has no data() to copy from
    return n;
  };
  std::optional<std::uint64_t> start;
  const auto refusal = vx::read_elf(
      file.size(), read_at, [&](const DataRecord& r) { return recorder.add(r); }, start);
  check(start.has_value() != refusal.has_value());
  static_cast<void>(recorder.finish(refusal));
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
  read_as_elf({data, data + size});
  read_as_elf(vx::fuzz::ElfMaker(data, size).make());
  return 0;
}
