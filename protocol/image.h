// A firmware image: the bytes a firmware file puts into the board's 24-bit memory, and where each came
// from, pure. The file readers (protocol/firmware.h for the text formats, the loader's ELF and raw
// binary readers) hand their data records to an ImageBuilder, which checks each one against the
// address space and against the bytes already placed, then keeps it in the Image.
//
// The image is held in pages of 4096 bytes, each with a presence mask, made as data reaches them: a
// small file costs little and the largest image (the whole 16 MiB space) costs 16 MiB and its 2 MiB of
// masks, however large or many-recorded the file is. The mask bits follow the block telegram's layout
// (protocol/block.h): bit (i & 7) of byte (i >> 3) stands for byte i, so a page's mask is the masks of
// its 32 blocks side by side and a block goes to the packing as it stands.
//
// Where a byte came from is not kept (it would cost more than the byte): a conflict names the address
// and the later place, and the reader is run a second time to find the earlier one (first_place_of).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/address.h"
#include "protocol/block.h"

namespace vx::image {

// A place in a firmware file: the file as a whole, a line of a text file, a program header of an ELF
// file, an offset of a raw binary.
struct Place {
  enum class Kind { File, Line, Segment, Offset } kind = Kind::File;
  std::uint64_t number = 0;
};
std::string describe(Place place);  // "", "line 12", "program header 2", "offset 0x1F00"

// Why a file is refused. Each kind has its own exit code in the loader.
enum class Fault {
  BadRecord,  // a record that breaks its format: a pair, a length, a checksum, a type
  NotWhole,   // no proof that the file ended where its writer ended it
  Outside,    // data at an address past FFFFFF
  Overlap,    // the same address written twice with different bytes
};

struct Refusal {
  Fault fault = Fault::BadRecord;
  Place place;
  std::string why;            // the reason, in words, without the place
  std::uint64_t address = 0;  // Outside: the first address outside; Overlap: the address written twice
};

// The refusal of data at `first_outside` (past FFFFFF) and on.
Refusal outside(Place place, std::uint64_t first_outside);

// One data record of a file: its bytes from `address` on.
struct DataRecord {
  Place place;
  std::uint64_t address = 0;
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};

class Image {
 public:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kPages = kAddressSpace / kPageSize;

  Image() : pages_(kPages) {}

  // Stores one byte. Returns false, storing nothing, when a different byte is already there.
  bool put(std::uint32_t address, std::uint8_t value);
  // Stores n bytes from `address` on (all inside the address space), up to the first one that differs
  // from a byte already there; returns how many were stored, n when all were.
  std::size_t put_run(std::uint32_t address, const std::uint8_t* bytes, std::size_t n);
  // Stores one byte where another may stand already.
  void replace(std::uint32_t address, std::uint8_t value);
  bool has(std::uint32_t address) const;
  std::uint8_t at(std::uint32_t address) const;  // 0 where nothing was placed
  std::size_t size() const { return bytes_; }    // the bytes placed
  std::size_t pages() const { return pages_made_; }

  // fn(base, bytes, mask) for every 128-byte block that holds data, in address order; the pointers
  // stand for kBlockSize bytes and kMaskBytes mask bytes.
  template <typename Fn>
  void for_each_block(Fn fn) const {
    for (std::size_t p = 0; p < kPages; ++p) {
      if (!pages_[p]) continue;
      const Page& page = *pages_[p];
      for (std::size_t b = 0; b < kPageSize / kBlockSize; ++b) {
        const std::uint8_t* mask = page.mask.data() + b * kMaskBytes;
        if (!mask_any(mask)) continue;
        fn(static_cast<std::uint32_t>(p * kPageSize + b * kBlockSize), page.bytes.data() + b * kBlockSize, mask);
      }
    }
  }

  // The file's start address where it gave one (S7/S8/S9, Intel HEX 03/05, the ELF entry).
  std::optional<std::uint64_t> start;

 private:
  struct Page {
    std::array<std::uint8_t, kPageSize> bytes{};
    std::array<std::uint8_t, kPageSize / 8> mask{};
  };
  Page& page_of(std::uint32_t address);
  std::vector<std::unique_ptr<Page>> pages_;
  std::size_t bytes_ = 0;
  std::size_t pages_made_ = 0;
};

// What a record that gives an address a different byte than an earlier record did means: a fault of
// the file (a download refuses it), or the later byte, as the board holds it after a download of records
// that went one after another (what a verify of such a download compares with).
enum class Rewrites { Refused, LaterWins };

// Takes a file's data records in file order into an image, refusing a record that reaches past FFFFFF
// (nothing of it is kept) or, under Rewrites::Refused, that gives an address a different byte than an
// earlier record did (the same byte twice is fine: files often repeat a boundary).
class ImageBuilder {
 public:
  explicit ImageBuilder(Image& image, Rewrites rewrites = Rewrites::Refused) : image_(image), rewrites_(rewrites) {}
  std::optional<Refusal> add(const DataRecord& record);

 private:
  Image& image_;
  Rewrites rewrites_;
};

// The first of a file's records that covers `address`: fed the same records again after an overlap, it
// names the earlier place.
class FirstPlaceOf {
 public:
  explicit FirstPlaceOf(std::uint64_t address) : address_(address) {}
  void add(const DataRecord& record);
  std::optional<Place> place() const { return place_; }

 private:
  std::uint64_t address_;
  std::optional<Place> place_;
};

// The address a download's end record carries: the file's start address where it lies inside the
// memory, else 0.
std::uint32_t end_record_address(const Image& image);

}  // namespace vx::image
