// The ELF reader (protocol/elf.h) against libelf, the tests' oracle on Linux: for every ELF file the tests
// make, both must find the same PT_LOAD segments with a file size (index, offset, size, physical
// address) and the same entry point. The files are the in-memory ones of tests/support/elf_file.h in
// every kind, and the files named in VEXAL_ELF_FILES (tests/e2e/firmware_files.sh names those it links).
#include <gelf.h>
#include <libelf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/elf.h"
#include "tests/support/elf_file.h"

namespace vx {
namespace {

using Segment = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t>;  // index, offset, size, paddr

struct Reading {
  bool read = false;
  std::vector<Segment> segments;
  std::uint64_t entry = 0;
  std::string why;
};

Reading ours(const std::vector<std::uint8_t>& file) {
  Reading reading;
  const elf::ReadAt read_at = [&file](std::uint64_t offset, std::uint8_t* into, std::size_t n) -> std::size_t {
    if (offset >= file.size()) return 0;
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(n, file.size() - offset));
    std::memcpy(into, file.data() + offset, got);
    return got;
  };
  std::optional<std::uint64_t> entry;
  const auto refused = elf::read_segments(
      file.size(), read_at,
      [&](const elf::Segment& s) -> std::optional<image::Refusal> {
        reading.segments.emplace_back(s.header, s.offset, s.size, s.address);
        return std::nullopt;
      },
      entry);
  reading.read = !refused;
  reading.why = refused ? refused->why : "";
  reading.entry = entry.value_or(0);
  return reading;
}

struct ElfEnd {
  void operator()(Elf* elf) const { static_cast<void>(elf_end(elf)); }
};

Reading libelfs(std::vector<std::uint8_t> file) {
  Reading reading;
  if (elf_version(EV_CURRENT) == EV_NONE) return reading;
  std::unique_ptr<Elf, ElfEnd> elf(elf_memory(reinterpret_cast<char*>(file.data()), file.size()));
  GElf_Ehdr ehdr;
  std::size_t count = 0;
  if (!elf || elf_kind(elf.get()) != ELF_K_ELF || !gelf_getehdr(elf.get(), &ehdr) ||
      elf_getphdrnum(elf.get(), &count) != 0) {
    reading.why = elf_errmsg(-1);
    return reading;
  }
  for (std::size_t i = 0; i < count; ++i) {
    GElf_Phdr ph;
    if (!gelf_getphdr(elf.get(), static_cast<int>(i), &ph)) {
      reading.why = elf_errmsg(-1);
      return reading;
    }
    if (ph.p_type == PT_LOAD && ph.p_filesz > 0) reading.segments.emplace_back(i, ph.p_offset, ph.p_filesz, ph.p_paddr);
  }
  reading.read = true;
  reading.entry = ehdr.e_entry;
  return reading;
}

void expect_same(const std::vector<std::uint8_t>& file, const std::string& name) {
  const Reading mine = ours(file), theirs = libelfs(file);
  ASSERT_TRUE(mine.read) << name << ": " << mine.why;
  ASSERT_TRUE(theirs.read) << name << ": libelf: " << theirs.why;
  EXPECT_EQ(mine.segments, theirs.segments) << name;
  EXPECT_EQ(mine.entry, theirs.entry) << name;
}

TEST(ElfOracle, TheInMemoryFilesReadAsLibelfReadsThem) {
  for (const auto& kind : test::kElfKinds)
    for (const auto& c : test::loadable_elf_files(kind))
      expect_same(c.file.bytes(), std::string(kind.name) + ", " + c.edge);
}

TEST(ElfOracle, TheLinkedFilesReadAsLibelfReadsThem) {
  const char* names = std::getenv("VEXAL_ELF_FILES");
  if (!names) GTEST_SKIP() << "VEXAL_ELF_FILES names no files (tests/e2e/firmware_files.sh names them)";
  std::istringstream list(names);
  std::string name;
  int files = 0;
  while (list >> name) {
    std::ifstream in(name, std::ios::binary);
    ASSERT_TRUE(in) << name;
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    expect_same(file, name);
    EXPECT_FALSE(ours(file).segments.empty()) << name << ": a linked file has a segment to load";
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace vx
