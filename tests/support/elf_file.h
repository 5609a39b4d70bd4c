// ELF files made in memory for the tests, written field by field from the format's tables (the tests'
// own writer: it shares nothing with the reader under test), so a row can set any field to any value.
//
// An ElfFile describes the file; bytes() lays it out: the file header, the program-header table at
// `phoff` (the header's size unless a row moves it), section header 0 at `shoff` when a row gives one,
// and `payload` at kPayloadAt. A row that cuts the file gives `cut`, the size it keeps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <map>
#include <vector>

namespace vx::test {

struct ProgramHeader {
  std::uint32_t type = 1;  // PT_LOAD
  std::uint64_t offset = 0;
  std::uint64_t vaddr = 0;
  std::uint64_t paddr = 0;
  std::uint64_t filesz = 0;
  std::uint64_t memsz = 0;
};

struct ElfFile {
  static constexpr std::size_t kPayloadAt = 0x200;  // past any table a row makes

  bool is64 = true;
  bool big_endian = false;
  std::uint8_t ident_class = 0;  // 0: the class is64 gives
  std::uint8_t ident_order = 0;  // 0: the order big_endian gives
  std::uint8_t ident_version = 1;
  std::uint64_t entry = 0;
  std::optional<std::uint64_t> phoff;      // the header's size when not given
  std::optional<std::uint16_t> phentsize;  // the class's program-header size when not given
  std::optional<std::uint16_t> phnum;      // the number of headers when not given
  std::uint64_t shoff = 0;                 // section header 0, written when not 0
  std::uint16_t shentsize = 0;             // the class's section-header size when 0
  std::uint32_t sh_info = 0;               // section header 0's sh_info (the count under PN_XNUM)
  std::vector<ProgramHeader> headers;
  std::vector<std::uint8_t> payload;
  std::optional<std::size_t> cut;

  std::size_t header_size() const { return is64 ? 64 : 52; }
  std::size_t entry_size() const { return is64 ? 56 : 32; }
  std::size_t section_size() const { return is64 ? 64 : 40; }

  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out(kPayloadAt + payload.size());
    write_header(out);
    const std::uint64_t table = phoff.value_or(header_size());
    if (table <= kFarthest)
      for (std::size_t i = 0; i < headers.size(); ++i) write_program_header(out, table + i * entry_size(), headers[i]);
    if (shoff && shoff <= kFarthest) put(out, shoff + (is64 ? 44 : 28), 4, sh_info);
    std::copy(payload.begin(), payload.end(), out.begin() + kPayloadAt);
    if (cut) out.resize(*cut);
    return out;
  }

 private:
  // A table or section header placed past this is left out: an offset only the reader meets.
  static constexpr std::uint64_t kFarthest = 1 << 20;

  // Writes `value` in `width` bytes at `at` in the file's byte order; a field past the buffer grows it.
  void put(std::vector<std::uint8_t>& out, std::uint64_t at, std::size_t width, std::uint64_t value) const {
    if (out.size() < at + width) out.resize(at + width);
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t shift = 8 * (big_endian ? width - 1 - i : i);
      out[at + i] = static_cast<std::uint8_t>(value >> shift);
    }
  }

  void write_header(std::vector<std::uint8_t>& out) const {
    const std::uint8_t ident[] = {0x7F,
                                  'E',
                                  'L',
                                  'F',
                                  ident_class ? ident_class : std::uint8_t(is64 ? 2 : 1),
                                  ident_order ? ident_order : std::uint8_t(big_endian ? 2 : 1),
                                  ident_version};
    std::copy(std::begin(ident), std::end(ident), out.begin());
    const std::size_t word = is64 ? 8 : 4;
    put(out, 16, 2, 2);   // e_type: ET_EXEC
    put(out, 18, 2, 62);  // e_machine
    put(out, 20, 4, 1);   // e_version
    put(out, 24, word, entry);
    put(out, 24 + word, word, phoff.value_or(header_size()));
    put(out, 24 + 2 * word, word, shoff);
    const std::size_t sizes = 24 + 3 * word + 4;  // after e_flags: e_ehsize, e_phentsize, e_phnum, ...
    put(out, sizes, 2, header_size());
    put(out, sizes + 2, 2, phentsize.value_or(static_cast<std::uint16_t>(entry_size())));
    put(out, sizes + 4, 2, phnum.value_or(static_cast<std::uint16_t>(headers.size())));
    put(out, sizes + 6, 2, shentsize ? shentsize : section_size());
    put(out, sizes + 8, 2, shoff ? 1 : 0);  // e_shnum
  }

  void write_program_header(std::vector<std::uint8_t>& out, std::uint64_t at, const ProgramHeader& ph) const {
    if (is64) {
      put(out, at, 4, ph.type);
      put(out, at + 8, 8, ph.offset);
      put(out, at + 16, 8, ph.vaddr);
      put(out, at + 24, 8, ph.paddr);
      put(out, at + 32, 8, ph.filesz);
      put(out, at + 40, 8, ph.memsz);
    } else {
      put(out, at, 4, ph.type);
      put(out, at + 4, 4, ph.offset);
      put(out, at + 8, 4, ph.vaddr);
      put(out, at + 12, 4, ph.paddr);
      put(out, at + 16, 4, ph.filesz);
      put(out, at + 20, 4, ph.memsz);
    }
  }
};

// The four kinds a row is made in: 32 and 64 bit, little- and big-endian.
struct ElfKind {
  const char* name;
  bool is64;
  bool big_endian;
};
inline constexpr ElfKind kElfKinds[] = {
    {"32-bit LE", false, false}, {"32-bit BE", false, true}, {"64-bit LE", true, false}, {"64-bit BE", true, true}};

// ELF files that load, as a table both the reader's tests and the comparison with libelf take: each made
// in every kind, with the bytes it places (address -> bytes) and its start.
struct LoadableElf {
  const char* edge;
  ElfFile file;
  std::map<std::uint64_t, std::vector<std::uint8_t>> placed;
  std::uint64_t start;
};

inline std::vector<std::uint8_t> counting_bytes(std::size_t n, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

inline std::vector<LoadableElf> loadable_elf_files(const ElfKind& kind) {
  ElfFile base;
  base.is64 = kind.is64;
  base.big_endian = kind.big_endian;
  base.payload = counting_bytes(16, 0xA0);
  const std::vector<std::uint8_t>& p = base.payload;
  const std::uint64_t at = ElfFile::kPayloadAt;
  constexpr std::uint32_t kNote = 4;  // PT_NOTE

  ElfFile physical = base;  // runs at 900000, loads at 8000: the physical address counts
  physical.entry = 0x8004;
  physical.headers = {{1, at, 0x900000, 0x8000, 16, 32}};
  ElfFile mixed = base;  // a note, an empty (bss) segment, two segments apart, one ending at FFFFFF
  mixed.entry = 0x1000;
  mixed.headers = {{kNote, at, 0, 0, 4, 4},
                   {1, at, 0x100, 0x100, 0, 64},
                   {1, at, 0x1000, 0x1000, 8, 8},
                   {1, at + 8, 0xFFFFF8, 0xFFFFF8, 8, 8}};
  ElfFile none = base;  // e_phoff 0: no program headers
  none.phoff = 0;
  ElfFile elsewhere = physical;  // PN_XNUM: the count in section header 0's sh_info
  elsewhere.phnum = 0xFFFF;
  elsewhere.shoff = 0x100;
  elsewhere.sh_info = 1;
  return {
      {"one segment linked to run elsewhere than it loads", physical, {{0x8000, p}}, 0x8004},
      {"a note, an empty segment, two segments",
       mixed,
       {{0x1000, {p.begin(), p.begin() + 8}}, {0xFFFFF8, {p.begin() + 8, p.end()}}},
       0x1000},
      {"no program headers", none, {}, 0},
      {"the count of program headers in section header 0", elsewhere, {{0x8000, p}}, 0x8004},
  };
}

}  // namespace vx::test
