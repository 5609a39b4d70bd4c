// The formatter behind mprintf (mprintf_unchecked) on any format: a format known only at run time.
//
// Input: the format up to the first zero byte; the bytes after it feed the arguments, taken in order as
// the conversions ask for them. The format is cut after each conversion and every piece printed by its
// own call with exactly the one argument its conversion takes (an unsigned for d u x X, an int for c, a
// double for f, a bounded string for s, none for the rest), so no call can read an argument it was not
// given. The cutting follows the grammar in console/mprintf.h; a piece it got wrong would end inside
// its conversion, which mprintf stops at without reading an argument.
//
// Invariant besides the sanitizers: every conversion writes a field of exactly its width.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "console/console.h"
#include "console/mprintf.h"
#include "fuzz/fuzz_support.h"

namespace {

using vx::fuzz::require;

constexpr std::size_t kMaxStringArgument = 320;  // longer than any field, so truncation is exercised
constexpr int kDefaultIntWidth = 5;
constexpr int kDefaultHexWidth = 4;
constexpr int kDefaultStringWidth = 245;
constexpr int kMaxWidthDigits = 2;

class Arguments {
 public:
  Arguments(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  template <typename T>
  T scalar() {
    T v{};
    const std::size_t k = std::min(sizeof v, n_);
    std::memcpy(&v, p_, k);
    advance(k);
    return v;
  }
  const char* string() {
    std::size_t k = 0;
    while (k < n_ && k < kMaxStringArgument && p_[k]) ++k;
    text_.assign(reinterpret_cast<const char*>(p_), k);
    advance(k < n_ ? k + 1 : k);
    return text_.c_str();
  }

 private:
  void advance(std::size_t k) {
    p_ += k;
    n_ -= k;
  }
  const std::uint8_t* p_;
  std::size_t n_;
  std::string text_;
};

// One call's worth of format: literal text (with %% pairs) and at most one conversion, at its end.
struct Piece {
  std::string format;
  std::size_t literal_chars = 0;
  char conv = 0;  // 0: no conversion (the format ended, possibly inside one)
  int width = 0;  // as written; 0 when none
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the piece that begins at f; returns where the next one begins (nullptr: the format is done).
const char* next_piece(const char* f, Piece& piece) {
  while (*f) {
    if (*f != '%') {
      piece.format.push_back(*f++);
      ++piece.literal_chars;
      continue;
    }
    if (f[1] == '%') {
      piece.format += "%%";
      ++piece.literal_chars;
      f += 2;
      continue;
    }
    const char* start = f++;
    if (*f == '-') ++f;
    if (*f == '0') ++f;
    for (int digits = 0; digits < kMaxWidthDigits && is_digit(*f); ++digits)
      piece.width = piece.width * 10 + (*f++ - '0');
    if (*f == '.') {
      ++f;
      if (*f) ++f;
    }
    if (*f == 'l') ++f;
    if (!*f) {
      piece.format.append(start, f);  // ends inside its conversion: printed, and nothing after it
      return nullptr;
    }
    piece.conv = *f++;
    piece.format.append(start, f);
    return f;
  }
  return nullptr;
}

int field_width(const Piece& p) {
  switch (p.conv) {
    case 0: return 0;
    case 'c': return 1;
    case 'd':
    case 'u': return p.width ? p.width : kDefaultIntWidth;
    case 'x':
    case 'X': return p.width ? p.width : kDefaultHexWidth;
    case 's': return p.width ? p.width : kDefaultStringWidth;
    default: return p.width;  // f and the swallowed conversions: nothing without a width
  }
}

void print_piece(const Piece& p, Arguments& args) {
  const char* f = p.format.c_str();
  switch (p.conv) {
    case 'c': vx::mprintf_unchecked(f, args.scalar<int>()); break;
    case 'd':
    case 'u':
    case 'x':
    case 'X': vx::mprintf_unchecked(f, args.scalar<unsigned>()); break;
    case 'f': vx::mprintf_unchecked(f, args.scalar<double>()); break;
    case 's': vx::mprintf_unchecked(f, args.string()); break;
    default: vx::mprintf_unchecked(f); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t format_end = std::find(data, data + size, 0) - data;
  const std::string format(reinterpret_cast<const char*>(data), format_end);
  Arguments args(data + std::min(size, format_end + 1), size - std::min(size, format_end + 1));

  vx::fresh_run();
  std::size_t printed = 0;
  vx::console_set_tap([&printed](char) { ++printed; });
  const char* f = format.c_str();
  while (f) {
    Piece piece;
    f = next_piece(f, piece);
    printed = 0;
    print_piece(piece, args);
    const std::size_t expected = piece.literal_chars + static_cast<std::size_t>(field_width(piece));
    require(printed == expected, "'" + piece.format + "' printed " + std::to_string(printed) +
                                     " characters, its text and field take " + std::to_string(expected));
  }
  vx::console_set_tap(nullptr);
  return 0;
}
