#include "loader/firmware_file.h"

#include <cstdio>
#include <string>
#include <vector>

#include "console/finish.h"
#include "console/mprintf.h"
#include "loader/elf_image.h"
#include "protocol/hex.h"

namespace vx {

namespace {

using image::Fault;
using image::Format;
using image::Refusal;

constexpr std::size_t kPiece = 65536;
constexpr std::size_t kDetectBytes = 64;
constexpr std::size_t kShownBytes = 8;  // of a file of no known format

[[noreturn]] void fail(ExitCode code, const std::string& line) {
  mprintf("Error: %s\n", line.c_str());
  finish(code);
}

// The file's first bytes, enough to tell its format (a FIFO may hand them on in parts).
std::size_t read_head(CheckedFile& file, std::vector<std::uint8_t>& piece) {
  std::size_t got = 0;
  for (std::size_t n = 1; got < kDetectBytes && n > 0; got += n) n = file.read(piece.data() + got, piece.size() - got);
  return got;
}

std::string address_text(std::uint64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "%06llX", static_cast<unsigned long long>(address));
  return text;
}

// "line 7 " or "" for the file as a whole.
std::string place_text(image::Place place) {
  const std::string text = image::describe(place);
  return text.empty() ? text : text + " ";
}

// Reads the file from its start through the format's reader, every record to the sink. The first piece
// of the file, already read, comes in `piece`.
std::optional<Refusal> read_records(CheckedFile& file, Format format, std::optional<std::uint32_t> raw_address,
                                    std::vector<std::uint8_t>& piece, std::size_t got, const image::RecordSink& sink,
                                    std::optional<std::uint64_t>& start) {
  // The ELF reader takes the descriptor for now; once it reads at offsets it is given the checked
  // pieces instead: read_elf(*file.size(), file.reader_at(), sink, start).
  if (format == Format::Elf) return read_elf(file.descriptor(), sink, start);
  if (raw_address) {
    for (std::uint64_t offset = 0; got > 0; offset += got, got = file.read(piece.data(), piece.size())) {
      const image::Place place{image::Place::Kind::Offset, offset};
      if (auto refused = sink(image::DataRecord{place, *raw_address + offset, piece.data(), got})) return refused;
    }
    return std::nullopt;
  }
  image::TextFirmwareReader reader(format, sink);
  for (; got > 0; got = file.read(piece.data(), piece.size()))
    if (auto refused = reader.feed(piece.data(), got)) return refused;
  auto refused = reader.finish();
  start = reader.start();
  return refused;
}

// The earlier record of an overlap, from a second reading of the file.
std::string earlier_place(CheckedFile& file, Format format, std::optional<std::uint32_t> raw_address,
                          std::uint64_t address) {
  std::vector<std::uint8_t> piece(kPiece);
  if (!file.rewind()) return "an earlier record";
  image::FirstPlaceOf first(address);
  auto sink = [&](const image::DataRecord& record) -> std::optional<Refusal> {
    first.add(record);
    if (first.place()) return Refusal{};  // found: the rest need not be read
    return std::nullopt;
  };
  std::optional<std::uint64_t> start;
  static_cast<void>(read_records(file, format, raw_address, piece, file.read(piece.data(), piece.size()), sink, start));
  return first.place() ? image::describe(*first.place()) : "an earlier record";
}

[[noreturn]] void refuse_unknown(const char* name, const std::uint8_t* head, std::size_t n) {
  const std::string found = n == 0 ? "it is empty" : "it begins with " + hex_pairs(head, std::min(n, kShownBytes), " ");
  fail(ExitCode::FileFailed, std::string(name) + " is no S-record, Intel HEX or ELF file (" + found +
                                 "); give a raw binary its address, as in @load012300<" + name);
}

[[noreturn]] void report(const char* name, const Refusal& refusal, const std::string& earlier) {
  const std::string file = std::string(name) + ": ";
  switch (refusal.fault) {
    case Fault::Outside:
      fail(ExitCode::MemoryFailed, file + place_text(refusal.place) + "puts data at " + address_text(refusal.address) +
                                       ", outside memory 000000-FFFFFF.");
    case Fault::Overlap:
      fail(ExitCode::FileFailed, file + earlier + " and " + image::describe(refusal.place) +
                                     " write different bytes at " + address_text(refusal.address) + ".");
    case Fault::BadRecord:
    case Fault::NotWhole: break;
  }
  fail(ExitCode::FileFailed, file + place_text(refusal.place) + refusal.why + ".");
}

}  // namespace

void read_firmware(CheckedFile& file, std::optional<std::uint32_t> raw_address, image::Image& image,
                   image::Rewrites rewrites) {
  const char* name = file.name().c_str();
  file.start_check();
  std::vector<std::uint8_t> piece(kPiece);
  const std::size_t got = read_head(file, piece);
  const Format format = raw_address ? Format::Unknown : image::detect_format(piece.data(), got);
  if (!raw_address && format == Format::Unknown) refuse_unknown(name, piece.data(), got);
  // An ELF file is read at its headers' offsets: after the check pass, through its checked pieces.
  if (format == Format::Elf) file.end_check();
  image::ImageBuilder builder(image, rewrites);
  auto sink = [&](const image::DataRecord& record) { return builder.add(record); };
  const auto refused = read_records(file, format, raw_address, piece, got, sink, image.start);
  file.end_check();
  if (refused) {
    const bool overlap = refused->fault == Fault::Overlap;
    report(name, *refused, overlap ? earlier_place(file, format, raw_address, refused->address) : "");
  }
}

}  // namespace vx
