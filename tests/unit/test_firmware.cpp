// Firmware files and the image they fill: format detection, S-records and Intel HEX read whole with every
// refusal, ELF files made in memory (32/64-bit, either byte order) with every field's refusal, the
// builder's range and overlap checks, and the S2/S8 lines a download sends.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "loader/elf_image.h"
#include "protocol/firmware.h"
#include "protocol/image.h"
#include "tests/support/elf_file.h"

namespace vx::image {
namespace {

struct Outcome {
  std::optional<Refusal> refusal;
  Image image;
  std::optional<std::uint64_t> start;
};

// Reads `text` in pieces of `piece` bytes, as the loader reads a file.
void read_text(const std::string& text, Outcome& out, std::size_t piece = 7) {
  ImageBuilder builder(out.image);
  TextFirmwareReader reader(detect_format(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                            [&](const DataRecord& r) { return builder.add(r); });
  for (std::size_t at = 0; at < text.size() && !out.refusal; at += piece)
    out.refusal =
        reader.feed(reinterpret_cast<const std::uint8_t*>(text.data()) + at, std::min(piece, text.size() - at));
  if (!out.refusal) out.refusal = reader.finish();
  out.start = reader.start();
}

TEST(DetectFormat, ByContentOnly) {
  const struct {
    const char* edge;
    std::string head;
    Format format;
  } cases[] = {
      {"ELF magic",
       std::string("\x7f"
                   "ELF\x01\x01",
                   6),
       Format::Elf},
      {"S-record", "S00600004844521B\n", Format::SRecords},
      {"S-record after a BOM and a blank line", "\xEF\xBB\xBF\r\nS1051000abcd72\n", Format::SRecords},
      {"Intel HEX", ":020000040001F9\n", Format::IntelHex},
      {"Intel HEX after blanks", "  \n:00000001FF\n", Format::IntelHex},
      {"'S' and no digit: a command", "SET 1\n", Format::Unknown},
      {"a command file", "; job\nI000000\n", Format::Unknown},
      {"a PE file", "MZ\x90", Format::Unknown},
      {"empty", "", Format::Unknown},
  };
  for (const auto& c : cases)
    EXPECT_EQ(detect_format(reinterpret_cast<const std::uint8_t*>(c.head.data()), c.head.size()), c.format) << c.edge;
}

// Files read whole: the bytes they place (address -> bytes) and their start, checksums worked by hand.
TEST(TextFirmwareReader, PlacesWhatTheRecordsSay) {
  const struct {
    const char* edge;
    std::string text;
    std::map<std::uint32_t, std::vector<std::uint8_t>> placed;
    std::optional<std::uint64_t> start;
  } cases[] = {
      {"S1 with S0 and S9", "S00600004844521B\nS1051000ABCD72\nS9031000EC\n", {{0x1000, {0xAB, 0xCD}}}, 0x1000},
      {"S2 with S8, CR LF", "S20701234511223329\r\nS80401234592\r\n", {{0x012345, {0x11, 0x22, 0x33}}}, 0x012345},
      {"S3 with S7", "S30600010000EE0A\nS70500010000F9\n", {{0x10000, {0xEE}}}, 0x10000},
      {"S1 closed by a matching S5 only", "S1051000ABCD72\nS5030001FB\n", {{0x1000, {0xAB, 0xCD}}}, std::nullopt},
      {"S1 closed by a matching S6 (a 3-byte count) only",
       "S1051000ABCD72\nS604000001FA\n",
       {{0x1000, {0xAB, 0xCD}}},
       std::nullopt},
      {"a BOM before a later line (two files joined)",
       "S1051000ABCD72\n\xEF\xBB\xBFS9031000EC\n",
       {{0x1000, {0xAB, 0xCD}}},
       0x1000},
      {"no line end after the last record", "S1051000ABCD72\nS9031000EC", {{0x1000, {0xAB, 0xCD}}}, 0x1000},
      {"HEX: data, linear base, linear start",
       ":020000040001F9\n:02123400112285\n:04000005000123458E\n:00000001FF\n",
       {{0x011234, {0x11, 0x22}}},
       0x012345},
      {"HEX: segment base and segment start",
       ":020000021000EC\n:01000400AA51\n:0400000310000004E5\n:00000001FF\n",
       {{0x010004, {0xAA}}},
       0x010004},
      {"HEX: the same byte twice", ":0100000055AA\n:0100000055AA\n:00000001FF\n", {{0, {0x55}}}, std::nullopt},
  };
  for (const auto& c : cases) {
    Outcome out;
    read_text(c.text, out);
    ASSERT_FALSE(out.refusal) << c.edge << ": " << describe(out.refusal->place) << " " << out.refusal->why;
    std::size_t total = 0;
    for (const auto& [address, bytes] : c.placed) {
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_TRUE(out.image.has(address + static_cast<std::uint32_t>(i))) << c.edge;
        EXPECT_EQ(out.image.at(address + static_cast<std::uint32_t>(i)), bytes[i]) << c.edge;
      }
      total += bytes.size();
    }
    EXPECT_EQ(out.image.size(), total) << c.edge;
    EXPECT_EQ(out.start, c.start) << c.edge;
  }
}

TEST(TextFirmwareReader, RefusesWithThePlaceAndTheReason) {
  const struct {
    const char* edge;
    std::string text;
    Fault fault;
    std::string place;
    const char* why;
    std::uint64_t address;
  } cases[] = {
      {"S-record checksum", "S1051000ABCD73\nS9031000EC\n", Fault::BadRecord, "line 1",
       "has the checksum 73 but its bytes give 72", 0},
      {"HEX checksum", ":0100000055AB\n:00000001FF\n", Fault::BadRecord, "line 1",
       "has the checksum AB but its bytes give AA", 0},
      {"HEX count longer than the line", ":0200000055A9\n:00000001FF\n", Fault::BadRecord, "line 1",
       "has a count of 2 but 1 data bytes", 0},
      {"HEX unknown type", ":00000006FA\n", Fault::BadRecord, "line 1", "type 06", 0},
      {"HEX odd digits", ":0100000055AA0\n", Fault::BadRecord, "line 1", "hexadecimal pairs", 0},
      {"HEX base record of 3 bytes", ":03000004000100F8\n", Fault::BadRecord, "line 1", "instead of 2", 0},
      {"S4, a type no file holds", "S1051000ABCD72\nS4030000FC\n", Fault::BadRecord, "line 2", "type no S-record", 0},
      {"a command among S-records", "S1051000ABCD72\nI000000\n", Fault::BadRecord, "line 2", "is not an S-record", 0},
      {"a record after the end", "S9031000EC\nS1051000ABCD72\n", Fault::BadRecord, "line 2", "follows the end record",
       0},
      {"an end record with data", "S9041000AA41\n", Fault::BadRecord, "line 1", "holds data", 0},
      {"S-records cut short", "S1051000ABCD72\n", Fault::NotWhole, "", "may be cut short", 0},
      {"a count record that disagrees", "S1051000ABCD72\nS5030002FA\n", Fault::NotWhole, "line 2",
       "counts 2 data records, but 1", 0},
      {"an S6 count record that disagrees", "S1051000ABCD72\nS604000002F9\n", Fault::NotWhole, "line 2",
       "counts 2 data records, but 1", 0},
      {"a matching count, then more data", "S1051000ABCD72\nS5030001FB\nS1051000ABCD72\n", Fault::NotWhole, "",
       "cut short", 0},
      {"HEX without its end", ":0100000055AA\n", Fault::NotWhole, "", "end record (01)", 0},
      {"a line longer than any record", "S1" + std::string(700, '0') + "\n", Fault::BadRecord, "line 1",
       "longer than 600", 0},
      {"S3 past FFFFFF", "S30601000000AA4E\nS70500000000FA\n", Fault::Outside, "line 1", "outside", 0x1000000},
      {"HEX past FFFFFF", ":020000040100F9\n:020000001122CB\n:00000001FF\n", Fault::Outside, "line 2", "outside",
       0x1000000},
      {"other bytes at one address", ":0100000055AA\n:0100000056A9\n:00000001FF\n", Fault::Overlap, "line 2", "", 0},
  };
  for (const auto& c : cases) {
    Outcome out;
    read_text(c.text, out);
    ASSERT_TRUE(out.refusal) << c.edge;
    EXPECT_EQ(out.refusal->fault, c.fault) << c.edge;
    EXPECT_EQ(describe(out.refusal->place), c.place) << c.edge;
    EXPECT_NE(out.refusal->why.find(c.why), std::string::npos) << c.edge << ": " << out.refusal->why;
    EXPECT_EQ(out.refusal->address, c.address) << c.edge;
  }
}

// A data record's 2-byte offset reaches the end of its 64 KiB segment and no further: one that runs past
// it (FFF8 with 16 bytes) is refused, as readers differ on whether its last bytes wrap to the segment's
// start or go on into the next one; one that ends at the segment's last byte is taken.
TEST(TextFirmwareReader, HexRecordEndsWithinItsSegment) {
  const struct {
    const char* edge;
    std::string text;
    bool refused;
    const char* place;
  } cases[] = {
      {"FFF8 with 16 bytes", ":10FFF80000000000000000000000000000000000F9\n:00000001FF\n", true, "line 1"},
      {"FFF8 with 16 bytes under a linear base", ":020000040001F9\n:10FFF80000000000000000000000000000000000F9\n", true,
       "line 2"},
      {"FFFF with 2 bytes under a segment base", ":020000021000EC\n:02FFFF001122CD\n:00000001FF\n", true, "line 2"},
      {"FFF0 with 16 bytes: up to FFFF", ":10FFF0000000000000000000000000000000000001\n:00000001FF\n", false, ""},
  };
  for (const auto& c : cases) {
    Outcome out;
    read_text(c.text, out);
    ASSERT_EQ(out.refusal.has_value(), c.refused) << c.edge << ": " << (out.refusal ? out.refusal->why : "");
    if (!c.refused) {
      EXPECT_EQ(out.image.size(), 16u) << c.edge;
      EXPECT_TRUE(out.image.has(0xFFFF) && !out.image.has(0x10000)) << c.edge;
      continue;
    }
    EXPECT_EQ(out.refusal->fault, Fault::BadRecord) << c.edge;
    EXPECT_EQ(describe(out.refusal->place), c.place) << c.edge;
    EXPECT_NE(out.refusal->why.find("past the end of its 64 KiB segment"), std::string::npos) << out.refusal->why;
    EXPECT_EQ(out.image.size(), 0u) << c.edge;
  }
}

// Reads an ELF file's bytes through read_elf, at offsets, as the loader reads a file. The file claims
// `extra` bytes more than it holds, as one that became shorter after its size was taken.
void read_elf_bytes(const std::vector<std::uint8_t>& bytes, Outcome& out, std::uint64_t extra = 0) {
  ImageBuilder builder(out.image);
  const ReadAt read_at = [&bytes](std::uint64_t offset, std::uint8_t* into, std::size_t n) -> std::size_t {
    if (offset >= bytes.size()) return 0;
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes.size() - offset));
    std::memcpy(into, bytes.data() + offset, got);
    return got;
  };
  out.refusal = read_elf(
      bytes.size() + extra, read_at, [&](const DataRecord& r) { return builder.add(r); }, out.start);
}

TEST(ElfReader, PlacesEveryLoadSegmentAtItsPhysicalAddress) {
  for (const auto& kind : test::kElfKinds) {
    for (const auto& c : test::loadable_elf_files(kind)) {
      Outcome out;
      read_elf_bytes(c.file.bytes(), out);
      const std::string edge = std::string(kind.name) + ", " + c.edge;
      ASSERT_FALSE(out.refusal) << edge << ": " << describe(out.refusal->place) << " " << out.refusal->why;
      std::size_t total = 0;
      for (const auto& [address, bytes] : c.placed) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
          const auto at = static_cast<std::uint32_t>(address + i);
          EXPECT_TRUE(out.image.has(at) && out.image.at(at) == bytes[i]) << edge << " at " << at;
        }
        total += bytes.size();
      }
      EXPECT_EQ(out.image.size(), total) << edge;
      EXPECT_EQ(out.start, c.start) << edge;
    }
  }
}

// Every header field whose arithmetic could wrap or reach past the file, in each kind the row names.
TEST(ElfReader, RefusesEveryFieldThatOverflowsOrReachesPastTheFile) {
  constexpr std::uint64_t kTop64 = std::numeric_limits<std::uint64_t>::max();
  constexpr std::uint64_t kTop32 = std::numeric_limits<std::uint32_t>::max();
  enum class Kinds { All, Only32, Only64 };
  using test::ElfFile;
  const struct {
    const char* edge;
    Kinds kinds;
    std::function<void(ElfFile&)> change;
    Fault fault;
    std::string place;
    const char* why;
    std::uint64_t address;
  } cases[] = {
      {"p_paddr + p_filesz wraps past 2^64", Kinds::Only64, [&](ElfFile& f) { f.headers[0].paddr = kTop64 - 7; },
       Fault::Outside, "program header 0", "outside", kTop64 - 7},
      {"p_paddr + p_filesz past 2^32", Kinds::Only32, [&](ElfFile& f) { f.headers[0].paddr = kTop32 - 7; },
       Fault::Outside, "program header 0", "outside", kTop32 - 7},
      {"a segment above FFFFFF", Kinds::All, [](ElfFile& f) { f.headers[0].paddr = 0x1000100; }, Fault::Outside,
       "program header 0", "outside", 0x1000100},
      {"a segment across FFFFFF", Kinds::All, [](ElfFile& f) { f.headers[0].paddr = 0xFFFFF8; }, Fault::Outside,
       "program header 0", "outside", 0x1000000},
      {"p_offset + p_filesz wraps", Kinds::All,
       [&](ElfFile& f) { f.headers[0].offset = (f.is64 ? kTop64 : kTop32) - 7; }, Fault::NotWhole, "program header 0",
       "past the end of the file", 0},
      {"p_filesz larger than the file", Kinds::All, [&](ElfFile& f) { f.headers[0].filesz = f.is64 ? kTop64 : kTop32; },
       Fault::NotWhole, "program header 0", "past the end of the file", 0},
      {"a segment's bytes cut short", Kinds::All, [](ElfFile& f) { f.cut = ElfFile::kPayloadAt + 15; }, Fault::NotWhole,
       "program header 0", "past the end of the file", 0},
      {"e_phoff + the table wraps", Kinds::All, [&](ElfFile& f) { f.phoff = (f.is64 ? kTop64 : kTop32) - 7; },
       Fault::NotWhole, "", "the program headers (1 of", 0},
      {"a file cut inside its program-header table", Kinds::All,
       [](ElfFile& f) { f.cut = f.header_size() + f.entry_size() - 1; }, Fault::NotWhole, "",
       "reach past the end of the file: the file is cut short", 0},
      {"e_phnum counts more headers than the file holds", Kinds::All, [](ElfFile& f) { f.phnum = 0xFFFE; },
       Fault::NotWhole, "", "the program headers (65534 of", 0},
      {"e_phentsize not the class's", Kinds::All,
       [](ElfFile& f) { f.phentsize = static_cast<std::uint16_t>(f.entry_size() + 8); }, Fault::BadRecord, "",
       "its program headers are", 0},
      {"PN_XNUM without section headers", Kinds::All, [](ElfFile& f) { f.phnum = 0xFFFF; }, Fault::BadRecord, "",
       "but has no section headers", 0},
      {"PN_XNUM, section header 0 wraps", Kinds::All,
       [&](ElfFile& f) {
         f.phnum = 0xFFFF;
         f.shoff = (f.is64 ? kTop64 : kTop32) - 7;
       },
       Fault::NotWhole, "", "section header 0, which counts the program headers", 0},
      {"PN_XNUM, e_shentsize not the class's", Kinds::All,
       [](ElfFile& f) {
         f.phnum = 0xFFFF;
         f.shoff = 0x100;
         f.shentsize = 12;
       },
       Fault::BadRecord, "", "its section headers are 12 bytes each", 0},
      {"PN_XNUM, sh_info counts 2^32 - 1 headers", Kinds::All,
       [&](ElfFile& f) {
         f.phnum = 0xFFFF;
         f.shoff = 0x100;
         f.sh_info = static_cast<std::uint32_t>(kTop32);
       },
       Fault::NotWhole, "", "the program headers (4294967295 of", 0},
      {"a file cut inside its ELF header", Kinds::All, [](ElfFile& f) { f.cut = f.header_size() - 4; }, Fault::NotWhole,
       "", "the ELF header (", 0},
      {"a file cut inside e_ident", Kinds::All, [](ElfFile& f) { f.cut = 10; }, Fault::NotWhole, "",
       "the ELF identification", 0},
      {"a class neither 32- nor 64-bit", Kinds::All, [](ElfFile& f) { f.ident_class = 3; }, Fault::BadRecord, "",
       "its ELF class is 3", 0},
      {"a byte order neither little- nor big-endian", Kinds::All, [](ElfFile& f) { f.ident_order = 3; },
       Fault::BadRecord, "", "its ELF byte order is 3", 0},
      {"a version other than 1", Kinds::All, [](ElfFile& f) { f.ident_version = 2; }, Fault::BadRecord, "",
       "its ELF version is 2", 0},
      {"two segments writing other bytes at one address", Kinds::All,
       [](ElfFile& f) {
         f.headers.push_back({1, ElfFile::kPayloadAt + 1, 0, 0x8004, 4, 4});
       },
       Fault::Overlap, "program header 1", "", 0x8004},
  };
  for (const auto& kind : test::kElfKinds) {
    for (const auto& c : cases) {
      if ((c.kinds == Kinds::Only32 && kind.is64) || (c.kinds == Kinds::Only64 && !kind.is64)) continue;
      ElfFile file = test::loadable_elf_files(kind).front().file;
      c.change(file);
      Outcome out;
      read_elf_bytes(file.bytes(), out);
      const std::string edge = std::string(kind.name) + ", " + c.edge;
      ASSERT_TRUE(out.refusal) << edge;
      EXPECT_EQ(out.refusal->fault, c.fault) << edge << ": " << out.refusal->why;
      EXPECT_EQ(describe(out.refusal->place), c.place) << edge;
      EXPECT_NE(out.refusal->why.find(c.why), std::string::npos) << edge << ": " << out.refusal->why;
      EXPECT_EQ(out.refusal->address, c.address) << edge;
      EXPECT_FALSE(out.start) << edge;
    }
  }
}

// The reader's own promise, whatever the sink checks: no segment handed on wraps past 2^64.
TEST(ElfReader, HandsOnNoSegmentThatWraps) {
  for (const auto& kind : {test::kElfKinds[2], test::kElfKinds[3]}) {
    test::ElfFile file = test::loadable_elf_files(kind).front().file;
    file.headers[0].paddr = std::numeric_limits<std::uint64_t>::max() - 7;
    const std::vector<std::uint8_t> bytes = file.bytes();
    std::size_t handed_on = 0;
    std::optional<std::uint64_t> entry;
    const auto refused = elf::read_segments(
        bytes.size(),
        [&](std::uint64_t offset, std::uint8_t* into, std::size_t n) -> std::size_t {
          std::memcpy(into, bytes.data() + offset, n);
          return n;
        },
        [&](const elf::Segment&) -> std::optional<Refusal> {
          ++handed_on;
          return std::nullopt;
        },
        entry);
    ASSERT_TRUE(refused) << kind.name;
    EXPECT_EQ(refused->fault, Fault::Outside) << kind.name;
    EXPECT_EQ(refused->address, std::numeric_limits<std::uint64_t>::max() - 7) << kind.name;
    EXPECT_EQ(handed_on, 0u) << kind.name;
  }
}

// A file that became shorter between its size and its reading: refused as not whole, wherever it ends.
TEST(ElfReader, AFileThatShrankWhileReadIsNotWhole) {
  const std::vector<std::uint8_t> whole = test::loadable_elf_files(test::kElfKinds[2]).front().file.bytes();
  for (const std::size_t kept : {std::size_t{30}, std::size_t{70}, whole.size() - 1}) {
    Outcome out;
    read_elf_bytes({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(kept)}, out, whole.size() - kept);
    ASSERT_TRUE(out.refusal) << kept;
    EXPECT_EQ(out.refusal->fault, Fault::NotWhole) << kept;
    EXPECT_NE(out.refusal->why.find("became shorter"), std::string::npos) << kept << ": " << out.refusal->why;
  }
}

// An overlap's earlier place comes from a second reading with FirstPlaceOf.
TEST(FirstPlaceOf, NamesTheFirstRecordCoveringTheAddress) {
  FirstPlaceOf first(0x1001);
  const std::uint8_t bytes[4] = {};
  first.add(DataRecord{Place{Place::Kind::Line, 1}, 0x0FFC, bytes, 4});
  EXPECT_FALSE(first.place());
  first.add(DataRecord{Place{Place::Kind::Line, 2}, 0x1000, bytes, 2});
  first.add(DataRecord{Place{Place::Kind::Line, 3}, 0x1001, bytes, 1});
  ASSERT_TRUE(first.place());
  EXPECT_EQ(describe(*first.place()), "line 2");
}

TEST(Image, BlocksInAddressOrderWithTheirMasks) {
  Image image;
  ImageBuilder builder(image);
  const std::uint8_t high[2] = {1, 2}, low[3] = {3, 4, 5};
  ASSERT_FALSE(builder.add(DataRecord{Place{}, 0xFFFFFE, high, 2}));
  ASSERT_FALSE(builder.add(DataRecord{Place{}, 0x00007F, low, 3}));  // across two blocks
  std::vector<std::pair<std::uint32_t, unsigned>> seen;
  image.for_each_block([&](std::uint32_t base, const std::uint8_t* bytes, const std::uint8_t* mask) {
    unsigned mask_bytes = 0;
    for (std::size_t i = 0; i < kMaskBytes; ++i) mask_bytes += mask[i] ? 1 : 0;
    seen.emplace_back(base, bytes[0x7F] + mask_bytes);
  });
  // 0x000000: byte 7F is 3, one mask byte; 0x000080: byte 7F empty, one; 0xFFFF80: byte 7F is 2, one.
  EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, unsigned>>{{0x000000, 4}, {0x000080, 1}, {0xFFFF80, 3}}));
  EXPECT_EQ(image.size(), 5u);
  EXPECT_EQ(image.pages(), 2u);
}

// The range check never forms address + size, which wraps for an address near 2^64.
TEST(ImageBuilder, RefusesDataOutsideTheMemoryWithoutWrapping) {
  constexpr std::uint64_t kTop64 = std::numeric_limits<std::uint64_t>::max();
  const struct {
    std::uint64_t address;
    std::size_t size;
    std::optional<std::uint64_t> first_outside;
  } cases[] = {
      {0xFFFFFF, 1, std::nullopt}, {0x1000000, 0, std::nullopt}, {0xFFFFFF, 2, 0x1000000},
      {0x1000000, 1, 0x1000000},   {kTop64 - 7, 16, kTop64 - 7}, {kTop64, 1, kTop64},
  };
  const std::uint8_t bytes[16] = {};
  for (const auto& c : cases) {
    Image image;
    const auto refused = ImageBuilder(image).add(DataRecord{Place{}, c.address, bytes, c.size});
    EXPECT_EQ(refused.has_value(), c.first_outside.has_value()) << std::hex << c.address << " +" << c.size;
    if (refused && c.first_outside) {
      EXPECT_EQ(refused->address, *c.first_outside) << std::hex << c.address;
    }
  }
}

TEST(S2Line, WhatADownloadSends) {
  const std::uint8_t data[3] = {0x11, 0x22, 0x33};
  EXPECT_EQ(s2_line('2', 0x012345, data, 3), "S20701234511223329\n");
  EXPECT_EQ(s2_line('8', 0x010000, nullptr, 0), "S804010000FA\n");  // the example firmware's last line
  Image image;
  image.start = 0x1000000;  // a start outside the memory: the end record carries 000000
  EXPECT_EQ(end_record_address(image), 0u);
  image.start = 0x8000;
  EXPECT_EQ(end_record_address(image), 0x8000u);
}

}  // namespace
}  // namespace vx::image
