#include "board/memory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vx::board {

bool Memory::write(std::uint32_t address, const std::uint8_t* p, std::size_t n) {
  if (!in_range(address, n)) return false;
  if (n) std::memcpy(bytes_.data() + address, p, n);
  return true;
}

bool Memory::read(std::uint32_t address, std::size_t n, Bytes& out) const {
  if (!in_range(address, n)) return false;
  out.assign(bytes_.begin() + address, bytes_.begin() + static_cast<std::ptrdiff_t>(address + n));
  return true;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string failure(const char* what, const std::string& file) {
  return std::string(what) + " " + file + ": " + std::strerror(errno);
}

}  // namespace

bool load_image(Memory& memory, const std::string& file, std::uint32_t address, std::string& why) {
  File f(std::fopen(file.c_str(), "rb"));
  if (!f) {
    why = failure("can't open", file);
    return false;
  }
  Bytes content;
  std::uint8_t chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
    content.insert(content.end(), chunk, chunk + got);
    if (content.size() > kMemorySize) break;
  }
  if (std::ferror(f.get())) {
    why = failure("can't read", file);
    return false;
  }
  if (!memory.write(address, content)) {
    why = file + " does not fit into the memory at that address";
    return false;
  }
  return true;
}

bool dump_image(const Memory& memory, const std::string& file, Range range, std::string& why) {
  if (!Memory::in_range(range.address, range.length)) {
    why = "dump range leaves the memory";
    return false;
  }
  std::string temporary = file + ".partial";
  File f(std::fopen(temporary.c_str(), "wb"));
  if (!f) {
    why = failure("can't create", temporary);
    return false;
  }
  bool written = std::fwrite(memory.data() + range.address, 1, range.length, f.get()) == range.length;
  bool closed = std::fclose(f.release()) == 0;
  if (!written || !closed) {
    why = failure("can't write", temporary);
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), file.c_str()) != 0) {
    why = failure("can't rename to", file);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace vx::board
