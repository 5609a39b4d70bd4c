#include "console/mprintf.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "console/console.h"
#include "console/state.h"

namespace vx {
namespace {

// The work buffer lives in the console's state (the loader's thread's part: no lock).
char (&work_buffer())[kWorkBufferSize] { return console().state.li_tmpbuff; }

const float li_pow10[6] = {1.0f, 10.0f, 100.0f, 1000.0f, 10000.0f, 100000.0f};

constexpr int kMaxPrecision = 5;
constexpr int kLeftScanLimit = 300;  // left justification looks for significant text below this
constexpr int kDefaultIntWidth = 5;
constexpr int kDefaultHexWidth = 4;
constexpr int kDefaultStringWidth = 245;
const char kHexDigits[] = "0123456789ABCDEF";

// Numbers are written from position 0 upward over a cleared buffer; their length is where the zeros
// begin, and the rest then takes the fill character (a fill of '0' could not tell digit from fill).
int fill_after_number(char* txt, char fill) {
  int n = 0;
  while (n < kWorkBufferSize && txt[n]) ++n;
  std::memset(txt + n, fill, static_cast<std::size_t>(kWorkBufferSize - n));
  return n;
}

char fill_of(const Conversion& c) { return c.fillzeros ? '0' : ' '; }

// Each conversion's field is built by one function below, from the ground it lays in the work buffer
// to the width it takes.

// A number: its digits from position 0 upward over a cleared buffer, then the fill.
template <typename WriteDigits>
void number_field(Conversion& c, int default_width, WriteDigits write_digits) {
  auto& li_tmpbuff = work_buffer();
  if (!c.length) c.length = default_width;
  std::memset(li_tmpbuff, 0, sizeof li_tmpbuff);
  write_digits(li_tmpbuff);
  c.written = fill_after_number(li_tmpbuff, fill_of(c));
}

void decimal_field(Conversion& c, std::int32_t v) {
  number_field(c, kDefaultIntWidth,
               [&](char* txt) { li_pdec(txt, &v, static_cast<signed char>(c.alen), c.conv == 'u'); });
}

void hex_field(Conversion& c, std::uint32_t v) {
  number_field(c, kDefaultHexWidth, [&](char* txt) { li_phex(txt, &v); });
}

// No default width: without one the field is empty.
void real_field(Conversion& c, double v) {
  number_field(c, 0, [&](char* txt) { li_pfloat(txt, &v, static_cast<signed char>(c.prec)); });
}

void char_field(Conversion& c, int v) {
  auto& li_tmpbuff = work_buffer();
  std::memset(li_tmpbuff, fill_of(c), sizeof li_tmpbuff);
  c.length = 1;
  li_tmpbuff[0] = static_cast<char>(v);
  c.written = 1;
}

void string_field(Conversion& c, const char* s) {
  auto& li_tmpbuff = work_buffer();
  std::memset(li_tmpbuff, fill_of(c), sizeof li_tmpbuff);
  if (!c.length) c.length = kDefaultStringWidth;
  if (!s) s = "";
  for (int k = 0; k < c.length && s[k] && !weirdchar(s[k]); ++k) li_tmpbuff[c.length - 1 - k] = s[k];
  c.written = c.length;
}

// Any other conversion character takes no argument: its field is all fill.
void swallowed_field(const Conversion& c) {
  auto& li_tmpbuff = work_buffer();
  std::memset(li_tmpbuff, fill_of(c), sizeof li_tmpbuff);
}

void convert(Conversion& c, va_list& ap) {
  switch (c.conv) {
    case 'c': return char_field(c, va_arg(ap, int));
    case 'd':
    case 'u': return decimal_field(c, static_cast<std::int32_t>(va_arg(ap, unsigned)));
    case 'x':
    case 'X': return hex_field(c, va_arg(ap, unsigned));
    case 'f': return real_field(c, va_arg(ap, double));
    case 's': return string_field(c, va_arg(ap, const char*));
    default: return swallowed_field(c);
  }
}

void put_right(const Conversion& c) {
  auto& li_tmpbuff = work_buffer();
  for (int i = c.length - 1; i >= 0; --i) li_putc(li_tmpbuff[i]);
}

// The significant text first, then blanks up to the width. With space fill that text is everything
// up to the highest non-blank position. With zero fill the zeros are fill, not text, so the converted
// length counts instead. Either way the field stays `length` wide: text longer than the field shows
// its last characters, as a right-justified number does.
void put_left(const Conversion& c) {
  auto& li_tmpbuff = work_buffer();
  int top = -1;
  if (!c.fillzeros) {
    for (int k = kLeftScanLimit - 1; k >= 0; --k)
      if (li_tmpbuff[k] != ' ') {
        top = k;
        break;
      }
  } else {
    top = c.written - 1;
  }
  if (top >= c.length) top = c.length - 1;
  int out = 0;
  for (int i = top; i >= 0; --i, ++out) li_putc(li_tmpbuff[i]);
  for (; out < c.length; ++out) li_putc(' ');
}

}  // namespace

int weirdchar(char a) {
  const unsigned char u = static_cast<unsigned char>(a);
  return (u < 0x20 || u > 0x7F) ? 1 : 0;
}

void li_phex(char* txt, const void* hex) {
  std::uint32_t v;
  std::memcpy(&v, hex, sizeof v);
  const int bytes = ((v >> 16) & 0xFF) ? 3 : 2;  // the top byte is never shown
  for (int i = 0; i < bytes; ++i) {
    const unsigned byte = (v >> (8 * i)) & 0xFF;
    txt[2 * i] = kHexDigits[byte & 0xF];
    txt[2 * i + 1] = kHexDigits[byte >> 4];
  }
}

void li_pdec(char* txt, const void* dec, signed char, signed char) {
  std::int32_t v;
  std::memcpy(&v, dec, sizeof v);
  const bool negative = v < 0;
  std::uint32_t mag = negative ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  int pos = 0;
  do {
    txt[pos++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag);
  if (negative) txt[pos] = '-';
}

namespace {
// Single-precision scaling as the formatter has always done it, saturated to 32 bits so that no value
// (NaN or huge) makes the conversion undefined.
std::int32_t scale_to_int(double value, int prec) {
  const float scaled = static_cast<float>(static_cast<float>(value) * li_pow10[prec]);
  if (std::isnan(scaled)) return 0;
  if (scaled >= 2147483647.0f) return INT32_MAX;
  if (scaled <= -2147483648.0f) return INT32_MIN;
  return static_cast<std::int32_t>(scaled);
}
}  // namespace

void li_pfloat(char* txt, const void* flt, signed char prec) {
  double value;
  std::memcpy(&value, flt, sizeof value);
  const int p = prec < 0 ? 0 : (prec > kMaxPrecision ? kMaxPrecision : prec);
  const std::int32_t scaled = scale_to_int(value, p);
  const bool negative = scaled < 0;
  std::uint32_t mag = negative ? 0u - static_cast<std::uint32_t>(scaled) : static_cast<std::uint32_t>(scaled);
  int pos = 0;
  bool point_written = (p == 0);
  // At least two digits; then while digits remain, or until the point and a digit before it stand
  // (so 0.05 with two decimals reads 0.05, not 05).
  for (int pass = 0; pass < 2 || mag || !point_written; ++pass) {
    if (p && pos == p) {
      txt[pos++] = '.';
      point_written = true;
    }
    txt[pos++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  }
  if (negative) txt[pos] = '-';
}

int mprintf_unchecked(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const char* f = fmt;
  while (f && *f) {
    if (*f != '%') {
      li_putc(*f++);
      continue;
    }
    ++f;
    if (*f == '%') {
      li_putc(*f++);
      continue;
    }
    Conversion c;
    f = parse_conversion(f, c);
    if (!f) break;
    convert(c, ap);
    if (c.justify == JLEFT)
      put_left(c);
    else
      put_right(c);
  }
  va_end(ap);
  return 1;
}

}  // namespace vx
