// "@verify<file": read back what an S-record file puts into the board's memory and compare.
//
// An ExpectedImage holds the bytes a file's S2 and S8 records give, by address, exactly as a download
// leaves them in the board: a byte that two records give holds the later record's value. It keeps them
// in pages with a presence mask, so its size follows what the file covers rather than the 16 MiB the
// addresses could reach, and it hands back the covered addresses as contiguous ranges in address
// order, adjacent and overlapping records merged: the read-back asks for those ranges and nothing else.
//
// The command itself, verify (loader.h), lives with the other memory commands (memcmd.cpp), whose read
// loop it shares.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace vx {

struct MemoryRange {
  std::uint32_t start = 0;
  std::uint32_t length = 0;
  bool operator==(const MemoryRange&) const = default;
};

class ExpectedImage {
 public:
  void put(std::uint32_t address, std::uint8_t value);
  // The byte a covered address must hold (0 for an address the file does not cover).
  std::uint8_t at(std::uint32_t address) const;
  std::vector<MemoryRange> ranges() const;
  std::size_t covered() const { return covered_; }

 private:
  static constexpr std::size_t kPageSize = 256;
  struct Page {
    std::array<std::uint8_t, kPageSize> bytes{};
    std::bitset<kPageSize> present;
  };
  std::map<std::uint32_t, Page> pages_;  // by the page's first address
  std::size_t covered_ = 0;
};

// One line of an S-record file. S2 and S8 records add their data; any other line is ignored. A record
// read the way the download reads it fails the same way: a field that is no hexadecimal pair, a count
// that can't cover its address and checksum, data that would run past the 24-bit address space, all
// end the run with "Bad format" (exit code 3).
void add_record_line(ExpectedImage& image, const char* line);

// Every line of a file, read by the loader's line reader (lines.h) exactly as a download reads it: a
// file that can't be opened or read, or a line the download would refuse, ends the run the same way.
ExpectedImage image_of_file(const char* soubor);

}  // namespace vx
