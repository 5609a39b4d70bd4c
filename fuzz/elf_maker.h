// An ELF file made from a fuzz input, field by field, so that one mutated byte sets any header field to
// a value at an edge of its arithmetic (0, 2^32 - 1, 2^64 - 16, the file's size plus one, ...) while
// the rest of the file stays valid. Raw bytes rarely get this far: a random ELF header fails its first
// check, and a value near 2^64 in one field needs eight bytes right at once.
//
// The input, read from its start (missing bytes read as 0, which keeps every field's valid value):
//   byte 0       the kind: bit 0 64-bit, bit 1 big-endian, bits 2-3 the program headers (0-3), bit 4
//                the count in section header 0 (e_phnum = PN_XNUM)
//   then a choice for each field: e_entry, e_phoff, e_phentsize, e_phnum, e_shoff, e_shentsize, sh_info,
//                and for each program header p_type, p_offset, p_paddr, p_filesz; then the size the file
//                is cut to (its choice of the valid value: not cut)
//   the rest     the segments' bytes (at least one: a zero byte when none is left)
// A choice byte c gives: 0 the field's valid value; 1-15 kEdges[c - 1]; 16-254 the valid value plus
// c - 135 (from -119 to +119, wrapping as the field's arithmetic would); 255 the next 8 bytes, low first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/elf_file.h"

namespace vx::fuzz {

inline constexpr std::array<std::uint64_t, 15> kEdges = {
    0,
    1,
    0xFFFFFF,   // the last address of the memory
    0x1000000,  // one past it
    0x7FFFFFFF,
    0xFFFFFFFF,  // the top of a 32-bit field
    0x100000000,
    0xFFFF,              // PN_XNUM, the top of a 16-bit field
    0x7FFFFFFFFFFFFFFF,  // the largest file offset
    0x8000000000000000,
    0xFFFFFFFFFFFFFFFF,
    0xFFFFFFFFFFFFFFF0,  // 2^64 - 16: with a size of 16 or more, wraps
    0xFFFFFFFFFFFFF000,
    0xFFFFFFFFFF000000,
    0x00FFFFFFFFFFFFFF,
};

class ElfMaker {
 public:
  ElfMaker(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::vector<std::uint8_t> make() {
    test::ElfFile file;
    const std::uint8_t kind = next();
    file.is64 = (kind & k64Bit) != 0;
    file.big_endian = (kind & kBigEndian) != 0;
    const std::size_t headers = (kind >> kHeadersShift) & kHeadersMask;
    const bool count_elsewhere = (kind & kCountElsewhere) != 0;
    file.entry = choose(kLoadAt);
    file.phoff = choose(file.header_size());
    file.phentsize = static_cast<std::uint16_t>(choose(file.entry_size()));
    file.phnum = static_cast<std::uint16_t>(choose(count_elsewhere ? kPnXnum : headers));
    file.shoff = choose(count_elsewhere ? kSectionAt : 0);
    file.shentsize = static_cast<std::uint16_t>(choose(file.section_size()));
    file.sh_info = static_cast<std::uint32_t>(choose(headers));
    std::vector<Choice> fields(headers * kFieldsPerHeader);
    for (auto& field : fields) field = take_choice();
    const Choice cut = take_choice();
    file.payload.assign(data_ + at_, data_ + size_);
    if (file.payload.empty()) file.payload.push_back(0);
    for (std::size_t i = 0; i < headers; ++i)
      file.headers.push_back(header(fields.data() + i * kFieldsPerHeader, i, file));
    const std::uint64_t whole = test::ElfFile::kPayloadAt + file.payload.size();
    if (cut.kind != Choice::Kind::Valid) file.cut = static_cast<std::size_t>(resolve(cut, whole) % (whole + 1));
    return file.bytes();
  }

 private:
  // The kind byte.
  static constexpr std::uint8_t k64Bit = 1;
  static constexpr std::uint8_t kBigEndian = 2;
  static constexpr unsigned kHeadersShift = 2;
  static constexpr std::uint8_t kHeadersMask = 3;
  static constexpr std::uint8_t kCountElsewhere = 16;
  static constexpr std::uint64_t kPnXnum = 0xFFFF;
  static constexpr std::uint64_t kPtLoad = 1;

  static constexpr std::uint64_t kLoadAt = 0x8000;    // the first segment's address, and the entry
  static constexpr std::uint64_t kSectionAt = 0x100;  // between the largest table and the payload
  static constexpr std::size_t kFieldsPerHeader = 4;
  static constexpr std::uint8_t kRaw = 255;
  static constexpr std::uint8_t kFirstDelta = 16;
  static constexpr int kDeltaZero = 135;
  static constexpr std::uint64_t kSegmentApart = 0x1000;

  struct Choice {
    enum class Kind { Valid, Value, Delta } kind = Kind::Valid;
    std::uint64_t value = 0;
  };

  std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

  Choice take_choice() {
    const std::uint8_t c = next();
    if (c == 0) return {};
    if (c < kFirstDelta) return {Choice::Kind::Value, kEdges[c - 1]};
    if (c != kRaw) return {Choice::Kind::Delta, static_cast<std::uint64_t>(static_cast<int>(c) - kDeltaZero)};
    std::uint64_t raw = 0;
    for (unsigned i = 0; i < sizeof raw; ++i) raw |= static_cast<std::uint64_t>(next()) << (8 * i);
    return {Choice::Kind::Value, raw};
  }

  static std::uint64_t resolve(const Choice& choice, std::uint64_t valid) {
    switch (choice.kind) {
      case Choice::Kind::Valid: return valid;
      case Choice::Kind::Value: return choice.value;
      case Choice::Kind::Delta: return valid + choice.value;  // a negative delta wraps, as intended
    }
    return valid;
  }

  std::uint64_t choose(std::uint64_t valid) { return resolve(take_choice(), valid); }

  // Program header i: by default a PT_LOAD of all the payload, its segments kSegmentApart apart.
  static test::ProgramHeader header(const Choice* fields, std::size_t i, const test::ElfFile& file) {
    test::ProgramHeader ph;
    ph.type = static_cast<std::uint32_t>(resolve(fields[0], kPtLoad));
    ph.offset = resolve(fields[1], test::ElfFile::kPayloadAt);
    ph.paddr = resolve(fields[2], kLoadAt + i * kSegmentApart);
    ph.vaddr = ph.paddr;
    ph.filesz = resolve(fields[3], file.payload.size());
    ph.memsz = ph.filesz;
    return ph;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace vx::fuzz
