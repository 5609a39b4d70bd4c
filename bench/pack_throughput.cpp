// Host-side packing speed: S-record text in, block telegrams out, with the board replaced by an
// answerer in the same process that takes every frame at once and answers it at once ('*' for a
// block, "%*" for the S8 line). What is timed is the loader's own work: reading the command file,
// the pair tests, the block image, the encoding and CRC, the frame and the console output.
//
//   bench_pack [MIB [RECORD_BYTES]]     defaults: 8 MiB of data in records of 32 bytes
//
// Prints the text and data rates, the telegrams sent, the encoder alone for comparison, and the
// process's peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "loader/args.h"
#include "console/console.h"
#include "console/finish.h"
#include "loader/run.h"
#include "protocol/block.h"
#include "protocol/frame.h"
#include "serial/port.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kFirstAddress = 0x010000;
constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::uint32_t kMaxImage = 0x1000000 - kFirstAddress;
constexpr char kFileName[] = "bench-pack.s28";

std::uint8_t data_byte(std::uint32_t address) { return static_cast<std::uint8_t>(address * 2654435761u >> 24); }

void append_hex(std::string& s, unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  s += kDigits[(v >> 4) & 0xF];
  s += kDigits[v & 0xF];
}

// One S2 (or S8) line with its real checksum.
std::string record(char type, std::uint32_t address, const std::uint8_t* data, std::size_t n) {
  std::string line = {'S', type};
  unsigned count = static_cast<unsigned>(n + 4);
  unsigned sum = count + (address >> 16 & 0xFF) + (address >> 8 & 0xFF) + (address & 0xFF);
  append_hex(line, count);
  for (int shift = 16; shift >= 0; shift -= 8) append_hex(line, address >> shift & 0xFF);
  for (std::size_t i = 0; i < n; ++i) {
    append_hex(line, data[i]);
    sum += data[i];
  }
  append_hex(line, ~sum & 0xFF);
  return line + "\n";
}

std::size_t write_records(std::uint32_t bytes, std::size_t per_record) {
  std::FILE* f = std::fopen(kFileName, "wb");
  if (!f) return 0;
  std::size_t text = 0;
  std::vector<std::uint8_t> data(per_record);
  for (std::uint32_t a = kFirstAddress; a < kFirstAddress + bytes; a += static_cast<std::uint32_t>(per_record)) {
    std::size_t n = std::min<std::size_t>(per_record, kFirstAddress + bytes - a);
    for (std::size_t i = 0; i < n; ++i) data[i] = data_byte(a + static_cast<std::uint32_t>(i));
    std::string line = record('2', a, data.data(), n);
    text += std::fwrite(line.data(), 1, line.size(), f);
  }
  std::string end = record('8', kFirstAddress, nullptr, 0);
  text += std::fwrite(end.data(), 1, end.size(), f);
  return std::fclose(f) == 0 ? text : 0;
}

struct Counts {
  std::size_t frames = 0;
  std::size_t frame_bytes = 0;
};

class InstantBoard : public vx::Port {
 public:
  explicit InstantBoard(Counts& counts) : counts_(counts) {}
  bool write_frame(const std::uint8_t* data, std::size_t n, vx::Millis) override {
    ++counts_.frames;
    counts_.frame_bytes += n;
    s8_ = n > vx::ft12::kTextOffset + 1 && data[vx::ft12::kTextOffset] == 'S' && data[vx::ft12::kTextOffset + 1] == '8';
    return true;
  }
  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const vx::ReadWindow&) override {
    const auto& answer = s8_ ? s8_answer_ : block_answer_;
    std::size_t n = std::min(cap, answer.size());
    std::memcpy(buf, answer.data(), n);
    return n;
  }

 private:
  Counts& counts_;
  bool s8_ = false;
  std::vector<std::uint8_t> block_answer_ = vx::ft12::text_answer("*");
  std::vector<std::uint8_t> s8_answer_ = vx::ft12::text_answer("%*");
};

int run_loader_on_file(Counts& counts) {
  vx::fresh_run();
  vx::set_port_opener([&counts](const std::string&, const vx::LineSettings&) {
    vx::OpenResult r;
    r.port = std::make_unique<InstantBoard>(counts);
    return r;
  });
  vx::ArgVector av;
  std::string error;
  if (!vx::args_from_list({kFileName}, av, error)) return -1;
  return vx::wvexal(av.argc(), av.argv());
}

// The encoder alone over full blocks, for how much of the time is the encoding itself.
double encoder_mb_per_s(std::uint32_t bytes) {
  std::uint8_t image[vx::kBlockSize];
  std::uint8_t mask[vx::kMaskBytes];
  std::memset(mask, 0xFF, sizeof mask);
  std::size_t sink = 0;
  auto t0 = Clock::now();
  for (std::uint32_t base = 0; base < bytes; base += vx::kBlockSize) {
    for (std::size_t i = 0; i < vx::kBlockSize; ++i) image[i] = data_byte(base + static_cast<std::uint32_t>(i));
    sink += vx::encode_block(base, image, mask).size;
  }
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return sink ? bytes / s / 1e6 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8;
  std::size_t per_record = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 32;
  if (mib == 0 || mib * kMiB > kMaxImage || per_record == 0 || per_record > 250) {
    std::fprintf(stderr, "usage: bench_pack [MIB (1..15) [RECORD_BYTES (1..250)]]\n");
    return 2;
  }
  auto bytes = static_cast<std::uint32_t>(mib * kMiB);
  std::size_t text = write_records(bytes, per_record);
  if (!text) {
    std::fprintf(stderr, "bench_pack: can't write %s in the current directory\n", kFileName);
    return 1;
  }
  Counts counts;
  auto t0 = Clock::now();
  int code = run_loader_on_file(counts);
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  std::remove(kFileName);
  if (code != 0) {
    std::fprintf(stderr, "bench_pack: the loader ended with exit code %d\n", code);
    return 1;
  }
  rusage usage{};
  long peak_kib = getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
  std::printf("packing %zu MiB of data in %zu-byte S2 records (%.1f MB of S-record text)\n", mib, per_record,
              text / 1e6);
  std::printf("  took          %.3f s\n", s);
  std::printf("  text          %.1f MB/s\n", text / s / 1e6);
  std::printf("  data          %.1f MB/s\n", bytes / s / 1e6);
  std::printf("  telegrams     %zu (%.1f MB of frames)\n", counts.frames, counts.frame_bytes / 1e6);
  std::printf("  encoder alone %.1f MB/s of data\n", encoder_mb_per_s(bytes));
  std::printf("  peak memory   %ld KiB (getrusage)\n", peak_kib);
  return 0;
}
