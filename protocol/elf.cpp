#include "protocol/elf.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace vx::elf {

namespace {

using image::Fault;
using image::Place;
using image::Refusal;

// e_ident: the magic, then the class, the byte order and the version of the format.
constexpr std::array<std::uint8_t, 4> kMagic = {0x7F, 'E', 'L', 'F'};
constexpr std::size_t kClassAt = 4;
constexpr std::size_t kByteOrderAt = 5;
constexpr std::size_t kVersionAt = 6;
constexpr std::size_t kIdentSize = 16;
constexpr std::uint8_t kClass32 = 1;
constexpr std::uint8_t kClass64 = 2;
constexpr std::uint8_t kLittleEndian = 1;
constexpr std::uint8_t kBigEndian = 2;
constexpr std::uint8_t kCurrentVersion = 1;

constexpr std::uint64_t kLoadType = 1;             // PT_LOAD
constexpr std::uint64_t kCountElsewhere = 0xFFFF;  // PN_XNUM: the count stands in section header 0
constexpr unsigned kBitsPerByte = 8;

// Where a field stands in its header, and its width in bytes.
struct Field {
  std::size_t at;
  std::size_t width;
};

// The headers of one class: their sizes and the fields the loader reads.
struct Layout {
  const char* name;
  std::size_t file_header;
  Field entry, phoff, shoff, phentsize, phnum, shentsize;
  std::size_t program_header;
  Field type, offset, paddr, filesz;
  std::size_t section_header;
  Field sh_info;
};

constexpr Layout k32Bit{"32-bit", 52,     {24, 4}, {28, 4}, {32, 4}, {42, 2}, {44, 2}, {46, 2},
                        32,       {0, 4}, {4, 4},  {12, 4}, {16, 4}, 40,      {28, 4}};
constexpr Layout k64Bit{"64-bit", 64,     {24, 8}, {32, 8}, {40, 8}, {54, 2}, {56, 2}, {58, 2},
                        56,       {0, 4}, {8, 8},  {24, 8}, {32, 8}, 64,      {44, 4}};
constexpr std::size_t kLargestHeader = 64;  // the 64-bit file and section headers
using HeaderBytes = std::array<std::uint8_t, kLargestHeader>;

// The fields of one header's bytes, in the file's byte order.
class Fields {
 public:
  Fields(const HeaderBytes& bytes, bool big_endian) : bytes_(bytes), big_endian_(big_endian) {}
  std::uint64_t operator[](Field field) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < field.width; ++i) {
      const std::size_t next = big_endian_ ? field.at + i : field.at + field.width - 1 - i;
      value = value << kBitsPerByte | bytes_[next];
    }
    return value;
  }

 private:
  const HeaderBytes& bytes_;
  bool big_endian_;
};

// What the file header says, checked.
struct FileHeader {
  const Layout* layout = nullptr;
  bool big_endian = false;
  std::uint64_t entry = 0;
  std::uint64_t table = 0;  // e_phoff
  std::uint64_t count = 0;  // the program headers, from e_phnum or section header 0
};

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

Refusal file_refusal(Fault fault, const std::string& why) { return Refusal{fault, Place{}, why, 0}; }

Refusal cut_short(const std::string& what) {
  return file_refusal(Fault::NotWhole, what + " past the end of the file: the file is cut short");
}

// Whether `size` bytes from `offset` lie inside a file of `file_size` bytes, without wrapping.
bool inside(std::uint64_t offset, std::uint64_t size, std::uint64_t file_size) {
  return offset <= file_size && file_size - offset >= size;
}

// Fetches one header of `size` bytes (checked to lie inside the file) at `offset`.
std::optional<Refusal> fetch(const ReadAt& read_at, std::uint64_t offset, std::size_t size, HeaderBytes& bytes,
                             Place place) {
  if (read_at(offset, bytes.data(), size) == size) return std::nullopt;
  return became_shorter(place);
}

// e_ident: the magic, a class, a byte order and the version this reader knows.
std::optional<Refusal> read_ident(const HeaderBytes& bytes, std::size_t got, FileHeader& header) {
  if (got < kMagic.size() || !std::equal(kMagic.begin(), kMagic.end(), bytes.begin()))
    return file_refusal(Fault::BadRecord, "it does not begin with the ELF magic 7F 45 4C 46");
  if (got < kIdentSize) return cut_short("the ELF identification (16 bytes) reaches");
  const std::uint8_t file_class = bytes[kClassAt], order = bytes[kByteOrderAt], version = bytes[kVersionAt];
  const auto is = [](const char* what, unsigned value, const char* but) {
    return file_refusal(Fault::BadRecord, std::string("its ELF ") + what + " is " + std::to_string(value) + ", " + but);
  };
  if (file_class != kClass32 && file_class != kClass64)
    return is("class", file_class, "neither 1 (32-bit) nor 2 (64-bit)");
  if (order != kLittleEndian && order != kBigEndian)
    return is("byte order", order, "neither 1 (little-endian) nor 2 (big-endian)");
  if (version != kCurrentVersion) return is("version", version, "not 1");
  header.layout = file_class == kClass32 ? &k32Bit : &k64Bit;
  header.big_endian = order == kBigEndian;
  return std::nullopt;
}

// Headers of `size` bytes each where the class's are `expected`: refused unless the two agree.
std::optional<Refusal> entry_size(const char* headers, std::uint64_t size, std::size_t expected, const Layout& layout) {
  if (size == expected) return std::nullopt;
  return file_refusal(Fault::BadRecord, std::string("its ") + headers + " are " + std::to_string(size) +
                                            " bytes each, not the " + std::to_string(expected) + " of a " +
                                            layout.name + " file");
}

// The count of program headers that section header 0 holds (e_phnum was PN_XNUM).
std::optional<Refusal> read_count_elsewhere(std::uint64_t file_size, const ReadAt& read_at, const Fields& fields,
                                            FileHeader& header) {
  const Layout& layout = *header.layout;
  const std::uint64_t at = fields[layout.shoff];
  if (at == 0)
    return file_refusal(Fault::BadRecord,
                        "it counts its program headers in section header 0, but has no section headers");
  if (auto refused = entry_size("section headers", fields[layout.shentsize], layout.section_header, layout))
    return refused;
  if (!inside(at, layout.section_header, file_size))
    return cut_short("section header 0, which counts the program headers, lies at " + hex(at) + ",");
  HeaderBytes bytes{};
  if (auto refused = fetch(read_at, at, layout.section_header, bytes, Place{})) return refused;
  header.count = Fields(bytes, header.big_endian)[layout.sh_info];
  return std::nullopt;
}

// The program-header table: entries of the class's size, all of them inside the file.
std::optional<Refusal> read_table(std::uint64_t file_size, const ReadAt& read_at, const Fields& fields,
                                  FileHeader& header) {
  const Layout& layout = *header.layout;
  header.table = fields[layout.phoff];
  header.count = fields[layout.phnum];
  if (header.table == 0) {
    header.count = 0;  // no program headers at all
    return std::nullopt;
  }
  if (header.count == kCountElsewhere)
    if (auto refused = read_count_elsewhere(file_size, read_at, fields, header)) return refused;
  if (header.count == 0) return std::nullopt;
  if (auto refused = entry_size("program headers", fields[layout.phentsize], layout.program_header, layout))
    return refused;
  if (header.table > file_size || (file_size - header.table) / layout.program_header < header.count)
    return cut_short("the program headers (" + std::to_string(header.count) + " of " +
                     std::to_string(layout.program_header) + " bytes from offset " + hex(header.table) + ") reach");
  return std::nullopt;
}

// The file header: its identification, its size for the class, the entry point and the table.
std::optional<Refusal> read_file_header(std::uint64_t file_size, const ReadAt& read_at, FileHeader& header) {
  HeaderBytes bytes{};
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kLargestHeader));
  const std::size_t got = read_at(0, bytes.data(), want);
  if (got != want) return became_shorter(Place{});
  if (auto refused = read_ident(bytes, got, header)) return refused;
  if (got < header.layout->file_header)
    return cut_short("the ELF header (" + std::to_string(header.layout->file_header) + " bytes of a " +
                     header.layout->name + " file) reaches");
  const Fields fields(bytes, header.big_endian);
  header.entry = fields[header.layout->entry];
  return read_table(file_size, read_at, fields, header);
}

// Program header `index`: a segment when it is PT_LOAD with a file size and passes its checks.
std::optional<Refusal> read_program_header(std::uint64_t file_size, const ReadAt& read_at, const FileHeader& header,
                                           std::uint64_t index, std::optional<Segment>& segment) {
  const Layout& layout = *header.layout;
  const Place place{Place::Kind::Segment, index};
  HeaderBytes bytes{};
  if (auto refused = fetch(read_at, header.table + index * layout.program_header, layout.program_header, bytes, place))
    return refused;
  const Fields fields(bytes, header.big_endian);
  const Segment found{index, fields[layout.offset], fields[layout.filesz], fields[layout.paddr]};
  if (fields[layout.type] != kLoadType || found.size == 0) return std::nullopt;
  if (!inside(found.offset, found.size, file_size))
    return Refusal{Fault::NotWhole, place, "has its bytes past the end of the file: the file is cut short", 0};
  if (found.address > std::numeric_limits<std::uint64_t>::max() - found.size)
    return image::outside(place, found.address);
  segment = found;
  return std::nullopt;
}

}  // namespace

Refusal became_shorter(Place place) {
  const char* why = place.kind == Place::Kind::File ? "the file became shorter while it was read"
                                                    : "can't be read whole: the file became shorter while it was read";
  return Refusal{Fault::NotWhole, place, why, 0};
}

std::optional<Refusal> read_segments(std::uint64_t file_size, const ReadAt& read_at, const SegmentSink& sink,
                                     std::optional<std::uint64_t>& entry) {
  FileHeader header;
  if (auto refused = read_file_header(file_size, read_at, header)) return refused;
  for (std::uint64_t index = 0; index < header.count; ++index) {
    std::optional<Segment> segment;
    if (auto refused = read_program_header(file_size, read_at, header, index, segment)) return refused;
    if (segment)
      if (auto refused = sink(*segment)) return refused;
  }
  entry = header.entry;
  return std::nullopt;
}

}  // namespace vx::elf
