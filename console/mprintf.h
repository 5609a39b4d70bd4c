// The loader's only output routine.
//
// mprintf walks its format and hands every character to li_putc (console.h). Its grammar is its own,
// not the C library's: every conversion writes a field of exactly its width, built backwards in the
// fixed work buffer li_tmpbuff and then copied out.
//
//   %[-][0][w[w]][.p][l]c     c: c d u x X f s, anything else is swallowed (width fill, no argument)
//
//   d u    one 32-bit int (both signed), width 5 by default, only the last `width` characters show
//   x X    one 32-bit int, upper-case, 4 digits (6 when bits 16..23 are set), width 4 by default
//   c      one int, its low byte; width always 1
//   s      one zero-terminated string, width 245 by default; stops at a byte below 0x20 or above 0x7F
//   f      one double with precision p (0..5); no width writes nothing
//
// A call is checked while it compiles: the format must be a constant, and mprintf's arguments must
// match its conversions in number and kind (an integer of at most 32 bits for d u x X c, a float or
// double for f, a char pointer for s, nothing for a swallowed one), read by the same parse_conversion
// the formatter uses. A call that does not match fails to build, naming the reason (for example
// `mprintf_argument_kind_does_not_match_its_conversion`). The C-variadic formatter behind it,
// mprintf_unchecked, is for formats that exist only at run time: the formatter's tests and fuzz target.
//
// Not reentrant (one work buffer): call it from the loader's thread only.
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>

namespace vx {

inline constexpr int kWorkBufferSize = 310;
inline constexpr int JLEFT = 1;
inline constexpr int JRIGHT = 2;

// The formatter itself: the format is read as it is printed, the arguments are taken as it asks for them.
int mprintf_unchecked(const char* fmt, ...);

// The digit writers: least significant first from txt[0] on. They never write past txt[kWorkBufferSize-1].
void li_phex(char* txt, const void* hex);
void li_pdec(char* txt, const void* dec, signed char alen, signed char unsig);
void li_pfloat(char* txt, const void* flt, signed char prec);

// 1 when the byte ends a %s field: below 0x20 or above 0x7F.
int weirdchar(char a);

// One conversion of a format, as read after its '%'.
struct Conversion {
  int justify = JRIGHT;
  bool fillzeros = false;
  int length = 0;  // the width; 0 when the format gives none
  int prec = 0;
  int alen = 0;
  char conv = 0;
  int written = 0;  // characters the conversion put into the work buffer, from position 0 or width-1
};

// Reads the conversion after a '%'. Returns the position after it, or nullptr when the format ends
// inside the conversion (then nothing more is printed). The width has at most two digits: a third
// one is read as the conversion character; the precision is the one character after the '.'.
constexpr const char* parse_conversion(const char* f, Conversion& c) {
  if (*f == '-') {
    c.justify = JLEFT;
    ++f;
  }
  if (*f == '0') {
    c.fillzeros = true;
    ++f;
  }
  for (int digits = 0; digits < 2 && *f >= '0' && *f <= '9'; ++digits) c.length = c.length * 10 + (*f++ - '0');
  if (*f == '.') {
    ++f;
    if (!*f) return nullptr;
    c.prec = *f++ - '0';
  }
  if (*f == 'l') {
    c.alen = 4;
    ++f;
  }
  if (!*f) return nullptr;
  c.conv = *f++;
  return f;
}

// What a conversion takes from the arguments.
enum class ArgumentKind { NoArgument, Integer, Real, Text };

constexpr ArgumentKind argument_kind(char conv) {
  switch (conv) {
    case 'c':
    case 'd':
    case 'u':
    case 'x':
    case 'X': return ArgumentKind::Integer;
    case 'f': return ArgumentKind::Real;
    case 's': return ArgumentKind::Text;
    default: return ArgumentKind::NoArgument;
  }
}

// Whether an argument of type T can stand where the formatter takes `kind`: the formatter reads an
// int or unsigned, a double or a char pointer, so wider integers, bool and long double can't.
template <typename T>
constexpr bool argument_fits(ArgumentKind kind) {
  using U = std::remove_cv_t<T>;
  switch (kind) {
    case ArgumentKind::Integer:
      return std::is_integral_v<U> && !std::is_same_v<U, bool> && sizeof(U) <= sizeof(unsigned);
    case ArgumentKind::Real: return std::is_same_v<U, double> || std::is_same_v<U, float>;
    case ArgumentKind::Text: return std::is_same_v<U, const char*> || std::is_same_v<U, char*>;
    case ArgumentKind::NoArgument: break;
  }
  return false;
}

enum class FormatMismatch { Matches, FewerArguments, MoreArguments, WrongKind, UnfinishedConversion };

// How the arguments Args fail the format, walked exactly as mprintf_unchecked walks it.
template <typename... Args>
constexpr FormatMismatch format_mismatch(const char* f) {
  constexpr std::array<bool (*)(ArgumentKind), sizeof...(Args)> fits{&argument_fits<Args>...};
  std::size_t used = 0;
  while (*f) {
    if (*f++ != '%') continue;
    if (*f == '%') {
      ++f;
      continue;
    }
    Conversion c;
    f = parse_conversion(f, c);
    if (!f) return FormatMismatch::UnfinishedConversion;
    const ArgumentKind kind = argument_kind(c.conv);
    if (kind == ArgumentKind::NoArgument) continue;
    if (used == fits.size()) return FormatMismatch::FewerArguments;
    if (!fits[used++](kind)) return FormatMismatch::WrongKind;
  }
  return used == fits.size() ? FormatMismatch::Matches : FormatMismatch::MoreArguments;
}

// Never defined: a call of one of them in a constant evaluation is the compile error, and its name
// the reason.
namespace format_error {
void mprintf_has_fewer_arguments_than_its_format_converts();
void mprintf_has_more_arguments_than_its_format_converts();
void mprintf_argument_kind_does_not_match_its_conversion();
void mprintf_format_ends_inside_a_conversion();
}  // namespace format_error

// A format known while compiling, checked against the argument types Args.
template <typename... Args>
class CheckedFormat {
 public:
  consteval CheckedFormat(const char* text) : text_(text) {  // NOLINT: implicit, so call sites stay as they are
    switch (format_mismatch<Args...>(text)) {
      case FormatMismatch::Matches: break;
      case FormatMismatch::FewerArguments: format_error::mprintf_has_fewer_arguments_than_its_format_converts(); break;
      case FormatMismatch::MoreArguments: format_error::mprintf_has_more_arguments_than_its_format_converts(); break;
      case FormatMismatch::WrongKind: format_error::mprintf_argument_kind_does_not_match_its_conversion(); break;
      case FormatMismatch::UnfinishedConversion: format_error::mprintf_format_ends_inside_a_conversion(); break;
    }
  }
  constexpr const char* text() const { return text_; }

 private:
  const char* text_;
};

// The loader's print: the format is checked against the arguments' types (the format's own parameter
// is not deduced, so the arguments alone decide Args).
template <typename... Args>
int mprintf(CheckedFormat<std::type_identity_t<Args>...> format, Args... args) {
  return mprintf_unchecked(format.text(), args...);
}

}  // namespace vx
