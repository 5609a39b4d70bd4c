#include "loader/elf_image.h"

#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace vx {

namespace {

using image::DataRecord;
using image::Fault;
using image::Place;
using image::Refusal;

struct ElfEnd {
  void operator()(Elf* elf) const { static_cast<void>(elf_end(elf)); }  // read only: nothing to lose
};

Refusal refusal(Fault fault, std::uint64_t header, const std::string& why) {
  return Refusal{fault, Place{Place::Kind::Segment, header}, why, 0};
}

Refusal file_refusal(const std::string& why) { return Refusal{Fault::NotWhole, Place{}, why, 0}; }

std::string libelf_reason() {
  const char* reason = elf_errmsg(-1);
  return reason ? reason : "unknown reason";
}

// The bytes of one segment, piece by piece, to the sink.
std::optional<Refusal> read_segment(int fd, std::uint64_t header, const GElf_Phdr& ph, const image::RecordSink& sink) {
  std::vector<std::uint8_t> piece(kElfPiece);
  for (std::uint64_t done = 0; done < ph.p_filesz;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kElfPiece, ph.p_filesz - done));
    const ssize_t got = ::pread(fd, piece.data(), want, static_cast<off_t>(ph.p_offset + done));
    if (got <= 0) return refusal(Fault::NotWhole, header, "can't be read whole: the file may be cut short");
    const auto n = static_cast<std::size_t>(got);
    if (auto refused = sink(DataRecord{Place{Place::Kind::Segment, header}, ph.p_paddr + done, piece.data(), n}))
      return refused;
    done += n;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Refusal> read_elf(int fd, const image::RecordSink& sink, std::optional<std::uint64_t>& start) {
  if (elf_version(EV_CURRENT) == EV_NONE) return file_refusal("libelf is out of date: " + libelf_reason());
  std::unique_ptr<Elf, ElfEnd> elf(elf_begin(fd, ELF_C_READ, nullptr));
  GElf_Ehdr ehdr;
  if (!elf || elf_kind(elf.get()) != ELF_K_ELF || !gelf_getehdr(elf.get(), &ehdr))
    return file_refusal("the ELF header can't be read (" + libelf_reason() + "): the file may be cut short");
  std::size_t headers = 0;
  if (elf_getphdrnum(elf.get(), &headers) != 0)
    return file_refusal("the program headers can't be counted (" + libelf_reason() + ")");
  struct stat st {};
  if (::fstat(fd, &st) != 0) return file_refusal("the file's size can't be read");
  const auto file_size = static_cast<std::uint64_t>(st.st_size);
  for (std::size_t i = 0; i < headers; ++i) {
    GElf_Phdr ph;
    if (!gelf_getphdr(elf.get(), static_cast<int>(i), &ph))
      return refusal(Fault::NotWhole, i, "can't be read (" + libelf_reason() + "): the file may be cut short");
    if (ph.p_type != PT_LOAD || ph.p_filesz == 0) continue;
    if (ph.p_offset > file_size || file_size - ph.p_offset < ph.p_filesz)
      return refusal(Fault::NotWhole, i, "has its bytes past the end of the file: the file is cut short");
    if (auto refused = read_segment(fd, i, ph, sink)) return refused;
  }
  start = ehdr.e_entry;
  return std::nullopt;
}

}  // namespace vx
