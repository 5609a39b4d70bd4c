// Host-side packing speed: S-record text in, block telegrams out, with the board replaced by an
// answerer in the same process that takes every frame at once and answers it at once ('*' for a
// block, "%*" for the S8 line). What is timed is the loader's own work: reading the command file,
// the pair tests, the block image, the encoding and CRC, the frame and the console output.
//
//   bench_pack [MIB [RECORD_BYTES]]     defaults: 8 MiB of data in records of 32 bytes; 16 MiB fills
//                                       the whole address space from 000000, fewer start at 010000
//
// Prints the text and data rates, the telegrams sent, the encoder alone for comparison, and the
// process's peak memory. Then the same image as firmware files for "@load" (the S2 file itself, Intel
// HEX of 16-byte records, raw binary, and an ELF file padded to 64 MiB with bytes no segment holds),
// each in a process of its own: the time to read and check the file into the image alone, the time of
// the whole "@load" to the last telegram, and that process's peak memory.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loader/args.h"
#include "loader/firmware_file.h"
#include "protocol/firmware.h"
#include "protocol/image.h"
#include "console/console.h"
#include "console/finish.h"
#include "loader/run.h"
#include "protocol/block.h"
#include "protocol/frame.h"
#include "serial/port.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::uint32_t kMaxImage = 0x1000000;
constexpr std::uint32_t kLowFirstAddress = 0x010000;  // below a full image: where firmware usually starts
constexpr char kFileName[] = "bench-pack.s28";
constexpr char kHexName[] = "bench-pack.hex";
constexpr char kBinaryName[] = "bench-pack.bin";
constexpr char kElfName[] = "bench-pack.elf";
constexpr std::size_t kHexRecordBytes = 16;
constexpr std::size_t kElfFileSize = 64 * kMiB;

// Where the image starts: 010000, or 000000 for an image too large to start there.
std::uint32_t first_address_for(std::uint32_t bytes) {
  return bytes + kLowFirstAddress > kMaxImage ? 0 : kLowFirstAddress;
}

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
  const std::uint32_t first = first_address_for(bytes);
  std::FILE* f = std::fopen(kFileName, "wb");
  if (!f) return 0;
  std::size_t text = 0;
  std::vector<std::uint8_t> data(per_record);
  for (std::uint32_t a = first; a < first + bytes; a += static_cast<std::uint32_t>(per_record)) {
    std::size_t n = std::min<std::size_t>(per_record, first + bytes - a);
    for (std::size_t i = 0; i < n; ++i) data[i] = data_byte(a + static_cast<std::uint32_t>(i));
    std::string line = record('2', a, data.data(), n);
    text += std::fwrite(line.data(), 1, line.size(), f);
  }
  std::string end = record('8', first, nullptr, 0);
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

int run_loader_on(Counts& counts, const std::string& argument) {
  vx::fresh_run();
  vx::set_port_opener([&counts](const std::string&, const vx::LineSettings&) {
    vx::OpenResult r;
    r.port = std::make_unique<InstantBoard>(counts);
    return r;
  });
  vx::ArgVector av;
  std::string error;
  if (!vx::args_from_list({argument}, av, error)) return -1;
  return vx::wvexal(av.argc(), av.argv());
}

// --- the same image as firmware files for "@load" ---

bool write_file(const char* name, const std::string& text) {
  std::FILE* f = std::fopen(name, "wb");
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}

std::string image_bytes(std::uint32_t bytes) {
  const std::uint32_t first = first_address_for(bytes);
  std::string data(bytes, '\0');
  for (std::uint32_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(data_byte(first + i));
  return data;
}

std::string hex_record(unsigned type, unsigned offset, const std::uint8_t* data, std::size_t n) {
  std::string line = ":";
  unsigned sum = static_cast<unsigned>(n) + (offset >> 8) + (offset & 0xFF) + type;
  append_hex(line, static_cast<unsigned>(n));
  append_hex(line, offset >> 8);
  append_hex(line, offset & 0xFF);
  append_hex(line, type);
  for (std::size_t i = 0; i < n; ++i) {
    append_hex(line, data[i]);
    sum += data[i];
  }
  append_hex(line, (0x100 - (sum & 0xFF)) & 0xFF);
  return line + "\n";
}

bool write_hex(const std::string& data) {
  const std::uint32_t first = first_address_for(static_cast<std::uint32_t>(data.size()));
  std::string text;
  for (std::size_t at = 0; at < data.size(); at += kHexRecordBytes) {
    const std::uint32_t address = first + static_cast<std::uint32_t>(at);
    if (at == 0 || (address & 0xFFFF) == 0) {
      const std::uint8_t upper[2] = {static_cast<std::uint8_t>(address >> 24),
                                     static_cast<std::uint8_t>(address >> 16)};
      text += hex_record(4, 0, upper, 2);
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data()) + at;
    text += hex_record(0, address & 0xFFFF, bytes, std::min(kHexRecordBytes, data.size() - at));
  }
  return write_file(kHexName, text + hex_record(1, 0, nullptr, 0));
}

// A 32-bit little-endian ELF executable: its header, one PT_LOAD program header, the image, then
// padding that no segment holds up to kElfFileSize.
void put_le(std::string& s, std::size_t at, std::uint32_t v, int size) {
  for (int i = 0; i < size; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

bool write_elf(const std::string& data) {
  const std::uint32_t first = first_address_for(static_cast<std::uint32_t>(data.size()));
  constexpr std::size_t kEhdr = 52, kPhdr = 32;
  std::string file(kEhdr + kPhdr, '\0');
  file.replace(0, 7,
               "\x7f"
               "ELF\x01\x01\x01");
  put_le(file, 16, 2, 2);                                                // e_type: executable
  put_le(file, 18, 3, 2);                                                // e_machine: i386
  put_le(file, 20, 1, 4);                                                // e_version
  put_le(file, 24, first, 4);                                            // e_entry
  put_le(file, 28, kEhdr, 4);                                            // e_phoff
  put_le(file, 40, kEhdr, 2);                                            // e_ehsize
  put_le(file, 42, kPhdr, 2);                                            // e_phentsize
  put_le(file, 44, 1, 2);                                                // e_phnum
  put_le(file, kEhdr + 0, 1, 4);                                         // p_type: PT_LOAD
  put_le(file, kEhdr + 4, kEhdr + kPhdr, 4);                             // p_offset
  put_le(file, kEhdr + 8, first, 4);                                     // p_vaddr
  put_le(file, kEhdr + 12, first, 4);                                    // p_paddr
  put_le(file, kEhdr + 16, static_cast<std::uint32_t>(data.size()), 4);  // p_filesz
  put_le(file, kEhdr + 20, static_cast<std::uint32_t>(data.size()), 4);  // p_memsz
  file += data;
  if (file.size() < kElfFileSize) file.resize(kElfFileSize, '\x5A');
  return write_file(kElfName, file);
}

struct FileFigures {
  double read_s = 0;      // file into the image, checked
  double read_cpu_s = 0;  // the same in processor time: what the machine's other load does not stretch
  double load_s = 0;      // the whole "@load" to its last telegram
  std::size_t frames = 0;
  long peak_kib = 0;
  bool ok = false;
};

// Runs in a child process of its own, so its peak memory is its own.
FileFigures measure_file(const std::string& command, const char* name, std::optional<std::uint32_t> address) {
  int fds[2];
  FileFigures figures;
  if (::pipe(fds) != 0) return figures;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    FileFigures mine;
    auto t0 = Clock::now();
    const std::clock_t c0 = std::clock();
    {
      vx::CheckedFile file(name);
      vx::image::Image image;
      vx::read_firmware(file, address, image);
    }
    mine.read_cpu_s = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    mine.read_s = std::chrono::duration<double>(Clock::now() - t0).count();
    Counts counts;
    t0 = Clock::now();
    mine.ok = run_loader_on(counts, command) == 0;
    mine.load_s = std::chrono::duration<double>(Clock::now() - t0).count();
    mine.frames = counts.frames;
    const bool sent = ::write(fds[1], &mine, sizeof mine) == static_cast<ssize_t>(sizeof mine);
    ::_exit(sent ? 0 : 1);
  }
  ::close(fds[1]);
  const bool got = child > 0 && ::read(fds[0], &figures, sizeof figures) == static_cast<ssize_t>(sizeof figures);
  ::close(fds[0]);
  int status = 0;
  rusage usage{};
  if (child > 0 && ::wait4(child, &status, 0, &usage) == child) figures.peak_kib = usage.ru_maxrss;
  figures.ok = figures.ok && got;
  return figures;
}

void print_file_figures(const char* what, const char* name, const FileFigures& f) {
  struct stat st {};
  const double file_mb = ::stat(name, &st) == 0 ? static_cast<double>(st.st_size) / 1e6 : 0;
  if (!f.ok) {
    std::printf("  %-30s failed\n", what);
    return;
  }
  std::printf("  %-28s %5.1f MB  read %.3f s (cpu %.3f s)  @load %.3f s  %zu telegrams  peak %ld KiB\n", what, file_mb,
              f.read_s, f.read_cpu_s, f.load_s, f.frames, f.peak_kib);
}

bool write_firmware_files(std::uint32_t bytes) {
  const std::string data = image_bytes(bytes);
  return write_hex(data) && write_file(kBinaryName, data) && write_elf(data);
}

void firmware_file_figures(std::uint32_t bytes) {
  // The image's text is gone before the children start, so their peaks are their own.
  if (!write_firmware_files(bytes)) {
    std::fprintf(stderr, "bench_pack: can't write the firmware files in the current directory\n");
    return;
  }
  const std::uint32_t first = first_address_for(bytes);
  char address[8];
  std::snprintf(address, sizeof address, "%06X", first);
  std::printf("the same %u bytes as firmware files for @load (each in a process of its own)\n", bytes);
  const struct {
    const char* what;
    const char* name;
    std::string command;
    std::optional<std::uint32_t> address;
  } files[] = {
      {"S2 file", kFileName, std::string("@load<") + kFileName, std::nullopt},
      {"Intel HEX, 16-byte records", kHexName, std::string("@load<") + kHexName, std::nullopt},
      {"raw binary", kBinaryName, std::string("@load") + address + "<" + kBinaryName, first},
      {"ELF, padded to 64 MiB", kElfName, std::string("@load<") + kElfName, std::nullopt},
  };
  for (const auto& file : files)
    print_file_figures(file.what, file.name, measure_file(file.command, file.name, file.address));
  for (const char* name : {kHexName, kBinaryName, kElfName}) std::remove(name);
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
    std::fprintf(stderr, "usage: bench_pack [MIB (1..16) [RECORD_BYTES (1..250)]]\n");
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
  int code = run_loader_on(counts, kFileName);
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
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
  std::fflush(stdout);  // before the children inherit the buffer
  firmware_file_figures(bytes);
  std::remove(kFileName);
  return 0;
}
