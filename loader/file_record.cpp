#include "loader/file_record.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "protocol/sha256.h"

namespace vx {
namespace {

constexpr std::size_t kDigestChunk = 64 * 1024;

// Size and digest of a regular file's bytes; nothing for anything else or on a read fault.
void measure(FileRecord& record) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(record.path, error)) return;
  std::ifstream in(record.path, std::ios::binary);
  if (!in) return;
  Sha256 hash;
  std::int64_t size = 0;
  std::array<char, kDigestChunk> chunk{};
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    hash.add(std::string_view(chunk.data(), got));
    size += static_cast<std::int64_t>(got);
  }
  if (in.bad()) return;
  record.size = size;
  record.sha256 = hash.hex_digest();
}

}  // namespace

void record_file_opened(FileRole role, const char* path) {
  FileRecord record;
  record.role = role;
  record.path = path;
  measure(record);
  transfer_file_opened(record);
}

}  // namespace vx
