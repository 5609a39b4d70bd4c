// The memory commands: "@binget", "@hexget" and "@binput" move bytes between the board's memory and
// files on this side, one short text telegram at a time; "@verify" reads back what an S-record file
// puts into the memory and compares; "@load" downloads a firmware file of any format (load.cpp).
//
// zpracuj_prikaz reads the command at fixed positions (the word, a six-character address field, for the
// reads a ',' and a six-character length field, then '>' or '<' and the file name up to the end of the
// text or its line feed; "@verify" and "@load" have the '<' right after the word, or six address
// digits and then the '<', and the name) and hands it to one of the transfers. It returns an error text
// only for a command it does not understand; the transfers themselves report every failure and end the
// run.
//
// All reads share one loop (read_chunks): "@binget" asks for 64 bytes per read telegram and writes raw
// bytes, "@hexget" asks for 16 and writes one dump line per telegram with the digit pairs exactly as the
// board sent them. An answer of another length than its chunk asked for ends the run at that chunk
// (exit code 9): its bytes can't be placed at their addresses, and taken as they came they would shift
// every byte after them; the file keeps the chunks before it. "@verify" reads each run of consecutive
// bytes of its file's image (verify.h) with the raw reads' telegrams, and compares chunk by chunk.
//
// A range outside 000000-FFFFFF (a read telegram has six address digits) is refused before any telegram,
// and so is a read whose output file is a command file being read (however named): writing it would
// cut the job short under itself.
// "@binput" reads its whole file before it sends anything, so a file that would run past the top of
// the board's 24-bit address space, or that can't be read, is refused without touching the board.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/finish.h"
#include "console/messages.h"
#include "console/mprintf.h"
#include "console/transfer.h"
#include "loader/firmware_file.h"
#include "loader/loader.h"
#include "loader/checked_file.h"
#include "loader/state.h"
#include "loader/verify.h"
#include "protocol/address.h"
#include "protocol/answer.h"
#include "protocol/block.h"
#include "protocol/image.h"
#include "protocol/hex.h"
#include "protocol/record.h"
#include "serial/link.h"
#include "serial/telegram.h"

namespace vx {
namespace {

// --- command syntax ---
constexpr std::string_view kBinget = "@binget";
constexpr std::string_view kHexget = "@hexget";
constexpr std::string_view kBinput = "@binput";
constexpr std::string_view kVerify = "@verify";
constexpr std::string_view kLoad = "@load";
constexpr std::size_t kAddressField = 7;
constexpr std::size_t kFieldWidth = 6;
constexpr std::size_t kRangeSeparator = 13;  // ',' in a read, '<' in a write
constexpr std::size_t kLengthField = 14;
constexpr std::size_t kReadNameSeparator = 20;
constexpr std::size_t kReadName = 21;
constexpr std::size_t kWriteName = 14;
// A command-file line counts its line feed, so from a file one character of name suffices.
constexpr std::size_t kMinReadCommand = 23;
constexpr std::size_t kMinWriteCommand = 15;
constexpr std::size_t kMinVerifyCommand = 9;
constexpr std::size_t kMinLoadCommand = 7;
constexpr int kFieldBase = 16;

constexpr const char* kSyntaxError = "Syntax error";
constexpr const char* kUnknownCommand = "Unknown command";

// --- transfers ---
constexpr int kRawChunk = 64;
constexpr int kDumpChunk = 16;
constexpr int kWriteChunk = 64;
constexpr std::size_t kFileReadBlock = 4096;

constexpr const char* kUnexpected = "Error: Unexpected response: %s\n";
constexpr const char* kBadLength = "Error: Bad length (%d/%d).\n";
constexpr const char* kDoesNotFit = "Error: File doesn't fit below address 1000000: %s \n";
constexpr const char* kNothingToVerify = "Error: No data record to verify in file %s \n";
constexpr const char* kOutsideMemory = "Error: Range outside memory 000000-FFFFFF: %s \n";
constexpr const char* kDifference = "Error: Verify failed at %06X: expected %02X, found %02X.\n";

[[noreturn]] void fail(ExitCode code, CheckedFormat<const char*> format, const char* text) {
  mprintf(format, text);
  finish(code);
}

// A file that is closed on every way out. A run that ends midway leaves the file with what was written
// so far; only the regular close is checked, since a failed run has already reported its own error.
class File {
 public:
  File(const char* name, const char* mode) : name_(name), f_(std::fopen(name, mode)) {
    if (!f_) fail(ExitCode::FileFailed, kCantOpenFile, name_);
  }
  ~File() {
    if (f_) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const char* name() const { return name_; }

  void write(const char* p, std::size_t n) {
    if (std::fwrite(p, 1, n, f_) != n) fail(ExitCode::FileFailed, kCantWriteFile, name_);
  }
  // Flushing first tells a write that only fails on its way to the disk (a full disk) from a failed close.
  void close_written() {
    if (std::fflush(f_) != 0) fail(ExitCode::FileFailed, kCantWriteFile, name_);
    close();
  }
  void close() {
    FILE* f = f_;
    f_ = nullptr;
    if (std::fclose(f) != 0) fail(ExitCode::FileFailed, kCantCloseFile, name_);
  }

 private:
  const char* name_;
  FILE* f_;
};

// --- telegrams ---

void send_formatted(const char* text, int length, std::size_t capacity) {
  // The largest telegram is 138 characters, so this only guards against a format changed carelessly.
  if (length < 0 || static_cast<std::size_t>(length) >= capacity) {
    mprintf("Error: Telegram too long.\n");
    finish(ExitCode::NegativeAnswer);
  }
  sendc(text);
}

void send_read(std::int64_t adr, int asked) {
  char text[kMaxCommandText + 1];
  int n = std::snprintf(text, sizeof text, "R%06X,%02X\n", static_cast<unsigned>(adr), static_cast<unsigned>(asked));
  send_formatted(text, n, sizeof text);
}

void send_write(std::int64_t adr, const char* hex) {
  char text[kMaxCommandText + 1];
  int n = std::snprintf(text, sizeof text, "W%06X<%s\n", static_cast<unsigned>(adr), hex);
  send_formatted(text, n, sizeof text);
}

// --- reading memory ---

struct ReadFormat {
  int chunk;
  const char* mode;
  bool hex_dump;  // dump lines with the pairs as text, and no '!' or '?' anywhere in an answer
};
constexpr ReadFormat kRawFormat{kRawChunk, "wb", false};
constexpr ReadFormat kDumpFormat{kDumpChunk, "wt", true};

void check_read_answer(const ReadFormat& format, std::string_view a) {
  bool refused = format.hex_dump && a.find_first_of(answers::kNegativeMarks) != std::string_view::npos;
  if (a.empty() || a.front() != answers::kData || refused) fail(ExitCode::NegativeAnswer, kUnexpected, link_state().o);
}

void write_line_start(File& file, std::int64_t adr) {
  char head[16];
  int n = std::snprintf(head, sizeof head, "%06X: ", static_cast<unsigned>(adr));
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof head) fail(ExitCode::FileFailed, kCantWriteFile, file.name());
  file.write(head, static_cast<std::size_t>(n));
}

// A pair's value; a lone last digit is a pair of its own. The answer's data holds nothing below '0'
// (answer_data), so a pair that is not two digits reads as the C library's conversion has always read
// it: its first digit alone, or 0 when it begins with none.
unsigned char pair_value(std::string_view pair) {
  char digits[record::kPairWidth + 1] = {};
  pair.copy(digits, record::kPairWidth);
  const int whole = record::pair_at(digits);
  if (whole >= 0) return static_cast<unsigned char>(whole);
  const int first = hex_digit(digits[0]);
  return static_cast<unsigned char>(first < 0 ? 0 : first);
}

void write_pair(File& file, const ReadFormat& format, std::string_view pair) {
  if (format.hex_dump) {
    file.write(pair.data(), pair.size());
    file.write(" ", 1);
    return;
  }
  const char byte = static_cast<char>(pair_value(pair));
  file.write(&byte, 1);
}

// The data of an answer runs from its second character up to the first one below '0' in signed order
// (the end, a line end, a '!', any byte from 0x80). Cutting there before pairing keeps such a character
// out of the dump even when it stands second in a pair; a lone last digit is then a pair of its own.
std::string_view answer_data(std::string_view a) {
  std::size_t end = 1;
  while (end < a.size() && static_cast<signed char>(a[end]) >= '0') ++end;
  return a.substr(1, end - 1);
}

std::int32_t pair_count(std::string_view data) { return static_cast<std::int32_t>((data.size() + 1) / 2); }

void write_data(File& file, const ReadFormat& format, std::string_view data) {
  for (std::size_t i = 0; i < data.size(); i += 2) write_pair(file, format, data.substr(i, 2));
}

void check_read_length(std::string_view data, int asked) {
  const std::int32_t received = pair_count(data);
  if (received == asked) return;
  mprintf(kBadLength, received, asked);
  finish(ExitCode::MemoryFailed);
}

// The read telegrams for [odkud, odkud + kolik) in chunks of the format's size, the last one shorter;
// each answer's form and length are checked, then its data goes to take(chunk address, bytes asked
// for, data).
template <typename TakeData>
void read_chunks(const ReadFormat& format, std::int64_t odkud, std::int64_t kolik, TakeData take) {
  const std::int64_t end = odkud + kolik;
  for (std::int64_t adr = odkud; adr < end; adr += format.chunk) {
    const int asked = static_cast<int>(std::min<std::int64_t>(format.chunk, end - adr));
    send_read(adr, asked);
    check_read_answer(format, answer());
    const std::string_view data = answer_data(answer());
    check_read_length(data, asked);
    transfer_advance(asked);  // read, whatever the comparison of a verify then finds
    take(adr, asked, data);
  }
}

// A field as the command gave it: six hexadecimal digits, a '-' before a negative one.
std::string field_text(std::int32_t value) {
  char text[16];
  const auto magnitude = static_cast<unsigned>(value < 0 ? -static_cast<std::int64_t>(value) : value);
  std::snprintf(text, sizeof text, "%s%06X", value < 0 ? "-" : "", magnitude);
  return text;
}

// A telegram has six address digits: a range that starts below 0 or ends past the top of the 24-bit
// space would send an address the board can't have (R1000000,40 or RFFFFFFF0,10). Refused before any
// telegram and before the file is touched. A negative length reads nothing and is reported after.
void refuse_outside_memory(std::int32_t odkud, std::int32_t kolik, const std::string& shown) {
  const std::int64_t end = static_cast<std::int64_t>(odkud) + std::max<std::int32_t>(kolik, 0);
  if (odkud < 0 || end > std::int64_t{kAddressSpace}) fail(ExitCode::MemoryFailed, kOutsideMemory, shown.c_str());
}

void refuse_writing_over_a_command_file(const char* soubor) {
  for (const CheckedFile* file : loader_state().command_files)
    if (file->same_file(soubor)) {
      mprintf("%s\n", ("Error: Output file " + std::string(soubor) + " is a command file being read.").c_str());
      finish(ExitCode::FileFailed);
    }
}

void read_memory(const ReadFormat& format, std::int32_t odkud, std::int32_t kolik, const char* soubor) {
  refuse_outside_memory(odkud, kolik, field_text(odkud) + "," + field_text(kolik));
  refuse_writing_over_a_command_file(soubor);
  File file(soubor, format.mode);
  TransferScope transfer(Phase::Reading, soubor, kolik);
  read_chunks(format, odkud, kolik, [&](std::int64_t adr, int, std::string_view data) {
    if (format.hex_dump) write_line_start(file, adr);
    write_data(file, format, data);
    if (format.hex_dump) file.write("\n", 1);
  });
  file.close_written();
  // A negative length reads nothing: reported as a read of the wrong length.
  if (kolik < 0) {
    mprintf(kBadLength, 0, kolik);
    finish(ExitCode::MemoryFailed);
  }
}

// --- writing memory ---

std::vector<unsigned char> read_whole(CheckedFile& file, std::size_t limit) {
  std::vector<unsigned char> data;
  std::uint8_t block[kFileReadBlock];
  // One byte past the limit is enough to know the file does not fit.
  while (data.size() <= limit) {
    const std::size_t got = file.read(block, sizeof block);
    data.insert(data.end(), block, block + got);
    if (got == 0) break;
  }
  return data;
}

void write_memory(std::int64_t kam, const std::vector<unsigned char>& data) {
  for (std::size_t done = 0; done < data.size(); done += kWriteChunk) {
    std::size_t n = std::min<std::size_t>(kWriteChunk, data.size() - done);
    send_write(kam + static_cast<std::int64_t>(done), hex_pairs(data.data() + done, n).c_str());
    std::string_view a = answer();
    if (a.empty() || a.front() != answers::kAccepted) fail(ExitCode::NegativeAnswer, kUnexpected, link_state().o);
    transfer_advance(static_cast<std::int64_t>(n));
  }
}

// --- verifying memory ---

// The chunk's length has been checked by read_chunks.
void compare_chunk(const ExpectedRun& run, std::int64_t adr, int asked, std::string_view data) {
  for (int i = 0; i < asked; ++i) {
    const auto address = static_cast<std::uint32_t>(adr + i);
    const unsigned found = pair_value(data.substr(2 * static_cast<std::size_t>(i), 2));
    const unsigned expected = run.bytes[address - run.start];
    if (found == expected) continue;
    mprintf(kDifference, address, expected, found);
    finish(ExitCode::MemoryFailed);
  }
}

// mprintf's fields have a fixed width (5 for %d, showing only the last five digits): give the count a
// field exactly as wide as its digits, so 16 MiB shows whole and a small count stands without blanks.
// One format for each width an int can need.
constexpr std::array<CheckedFormat<int>, 10> kVerifiedByDigits{
    "Verified %1d bytes.\n", "Verified %2d bytes.\n", "Verified %3d bytes.\n", "Verified %4d bytes.\n",
    "Verified %5d bytes.\n", "Verified %6d bytes.\n", "Verified %7d bytes.\n", "Verified %8d bytes.\n",
    "Verified %9d bytes.\n", "Verified %10d bytes.\n"};

void print_verified(std::size_t bytes) {
  std::size_t digits = 1;
  for (std::size_t rest = bytes; rest >= 10; rest /= 10) ++digits;
  mprintf(kVerifiedByDigits[std::min(digits, kVerifiedByDigits.size()) - 1], static_cast<int>(bytes));
}

// A difference is only meaningful against what the board holds now, so a block still being packed goes
// out before the first read (its progress line then ends, as the download's last block does).
void check_run(const ExpectedRun& run) {
  if (block_pending()) {
    sendbin();
    mprintf("\n");
  }
  read_chunks(kRawFormat, run.start, static_cast<std::int64_t>(run.bytes.size()),
              [&](std::int64_t adr, int asked, std::string_view data) { compare_chunk(run, adr, asked, data); });
}

// --- the command text ---

std::int32_t hex_field(std::string_view text, std::size_t at) {
  // A zero-terminated copy, so the conversion can't run on into the characters after the field.
  char field[kFieldWidth + 1] = {};
  text.copy(field, kFieldWidth, at);
  return static_cast<std::int32_t>(std::strtol(field, nullptr, kFieldBase));
}

std::string file_name(std::string_view text, std::size_t at) {
  std::string_view name = text.substr(at);
  return std::string(name.substr(0, name.find('\n')));
}

const char* run_read_command(std::string_view text) {
  if (text.size() < kMinReadCommand || text[kRangeSeparator] != ',' || text[kReadNameSeparator] != '>')
    return kSyntaxError;
  std::string name = file_name(text, kReadName);
  std::int32_t odkud = hex_field(text, kAddressField);
  std::int32_t kolik = hex_field(text, kLengthField);
  if (text.starts_with(kHexget))
    hexget(odkud, kolik, name.c_str());
  else
    binget(odkud, kolik, name.c_str());
  return nullptr;
}

const char* run_write_command(std::string_view text) {
  if (text.size() < kMinWriteCommand || text[kRangeSeparator] != '<') return kSyntaxError;
  std::string name = file_name(text, kWriteName);
  binput(hex_field(text, kAddressField), name.c_str());
  return nullptr;
}

// A firmware command's operand after its word: "<FILE", or an address of six hexadecimal digits and
// "<FILE" (a raw binary placed there). False when it is neither.
bool firmware_operand(std::string_view operand, std::optional<std::uint32_t>& address, std::string& name) {
  if (!operand.starts_with('<')) {
    if (operand.size() <= kFieldWidth || operand[kFieldWidth] != '<') return false;
    for (std::size_t i = 0; i < kFieldWidth; ++i)
      if (hex_digit(operand[i]) < 0) return false;
    address = static_cast<std::uint32_t>(hex_field(operand, 0));
    operand.remove_prefix(kFieldWidth);
  }
  name = file_name(operand, 1);
  return true;
}

const char* run_verify_command(std::string_view text) {
  std::optional<std::uint32_t> address;
  std::string name;
  if (text.size() < kMinVerifyCommand || !firmware_operand(text.substr(kVerify.size()), address, name))
    return kSyntaxError;
  verify(name.c_str(), address);
  return nullptr;
}

const char* run_load_command(std::string_view text) {
  std::optional<std::uint32_t> address;
  std::string name;
  if (text.size() < kMinLoadCommand || !firmware_operand(text.substr(kLoad.size()), address, name)) return kSyntaxError;
  load(name.c_str(), address);
  return nullptr;
}

}  // namespace

const char* zpracuj_prikaz(const char* p) {
  std::string_view text(p);
  if (text.starts_with(kBinget) || text.starts_with(kHexget)) return run_read_command(text);
  if (text.starts_with(kBinput)) return run_write_command(text);
  if (text.starts_with(kVerify)) return run_verify_command(text);
  if (text.starts_with(kLoad)) return run_load_command(text);
  return kUnknownCommand;
}

void binget(std::int32_t odkud, std::int32_t kolik, const char* soubor) {
  read_memory(kRawFormat, odkud, kolik, soubor);
}

void hexget(std::int32_t odkud, std::int32_t kolik, const char* soubor) {
  read_memory(kDumpFormat, odkud, kolik, soubor);
}

void binput(std::int32_t kam, const char* soubor) {
  refuse_outside_memory(kam, 0, field_text(kam));
  CheckedFile file(soubor);
  file.start_check();  // the one reading: the bytes sent and the digest recorded
  const std::int64_t room = std::max<std::int64_t>(0, std::int64_t{kAddressSpace} - kam);
  std::vector<unsigned char> data = read_whole(file, static_cast<std::size_t>(room));
  if (static_cast<std::int64_t>(data.size()) > room) fail(ExitCode::MemoryFailed, kDoesNotFit, soubor);
  file.end_check();
  transfer_file_opened(file.record(FileRole::Binput));
  TransferScope transfer(Phase::Writing, soubor, static_cast<std::int64_t>(data.size()));
  write_memory(kam, data);
}

// The image as "@load" reads it, a later record's bytes standing where records overlap, compared in
// address order. A file refused leaves the board unasked.
void verify(const char* soubor, std::optional<std::uint32_t> address) {
  CheckedFile file(soubor);
  image::Image image;
  read_firmware(file, address, image, image::Rewrites::LaterWins);
  transfer_file_opened(file.record(FileRole::Verify));
  ExpectedRuns runs(check_run);
  TransferScope transfer(Phase::Verifying, soubor, static_cast<std::int64_t>(image.size()));
  add_image(runs, image);
  if (runs.handed_on() == 0) fail(ExitCode::MemoryFailed, kNothingToVerify, soubor);
  print_verified(runs.handed_on());
}

}  // namespace vx
