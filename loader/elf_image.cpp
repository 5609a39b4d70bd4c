#include "loader/elf_image.h"

#include <algorithm>
#include <vector>

namespace vx {

namespace {

using image::DataRecord;
using image::Place;
using image::Refusal;

// The bytes of one segment, piece by piece, to the sink. The segment lies inside the file (protocol/elf.h
// checked it), so a short read means the file shrank while it was read.
std::optional<Refusal> read_segment(const elf::Segment& segment, const ReadAt& read_at,
                                    std::vector<std::uint8_t>& piece, const image::RecordSink& sink) {
  const Place place{Place::Kind::Segment, segment.header};
  for (std::uint64_t done = 0; done < segment.size;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), segment.size - done));
    const std::size_t got = read_at(segment.offset + done, piece.data(), want);
    if (got != want) return elf::became_shorter(place);
    if (auto refused = sink(DataRecord{place, segment.address + done, piece.data(), got})) return refused;
    done += got;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Refusal> read_elf(std::uint64_t file_size, const ReadAt& read_at, const image::RecordSink& sink,
                                std::optional<std::uint64_t>& start) {
  std::vector<std::uint8_t> piece(kElfPiece);
  const elf::SegmentSink segments = [&](const elf::Segment& segment) {
    return read_segment(segment, read_at, piece, sink);
  };
  return elf::read_segments(file_size, read_at, segments, start);
}

}  // namespace vx
