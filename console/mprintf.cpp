#include "console/mprintf.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "console/console.h"

namespace vx {
namespace {

char li_tmpbuff[kWorkBufferSize];
const float li_pow10[6] = {1.0f, 10.0f, 100.0f, 1000.0f, 10000.0f, 100000.0f};

constexpr int kMaxPrecision = 5;
constexpr int kLeftScanLimit = 300;  // left justification looks for significant text below this
constexpr int kDefaultIntWidth = 5;
constexpr int kDefaultHexWidth = 4;
constexpr int kDefaultStringWidth = 245;
const char kHexDigits[] = "0123456789ABCDEF";

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
// inside the conversion (then nothing more is printed).
const char* parse_conversion(const char* f, Conversion& c) {
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

// Numbers are written from position 0 upward over a cleared buffer; their length is where the zeros
// begin, and the rest then takes the fill character (a fill of '0' could not tell digit from fill).
int fill_after_number(char* txt, char fill) {
  int n = 0;
  while (n < kWorkBufferSize && txt[n]) ++n;
  std::memset(txt + n, fill, static_cast<std::size_t>(kWorkBufferSize - n));
  return n;
}

void convert_string(Conversion& c, const char* s) {
  if (!c.length) c.length = kDefaultStringWidth;
  if (!s) s = "";
  int k = 0;
  for (; k < c.length && s[k] && !weirdchar(s[k]); ++k) li_tmpbuff[c.length - 1 - k] = s[k];
  c.written = c.length;
}

void convert(Conversion& c, va_list& ap) {
  const char fill = c.fillzeros ? '0' : ' ';
  const bool number = c.conv && std::strchr("duxXf", c.conv);
  std::memset(li_tmpbuff, number ? 0 : fill, sizeof li_tmpbuff);
  switch (c.conv) {
    case 'c':
      c.length = 1;
      li_tmpbuff[0] = static_cast<char>(va_arg(ap, int));
      c.written = 1;
      return;
    case 'd':
    case 'u': {
      if (!c.length) c.length = kDefaultIntWidth;
      std::int32_t v = static_cast<std::int32_t>(va_arg(ap, unsigned));
      li_pdec(li_tmpbuff, &v, static_cast<signed char>(c.alen), c.conv == 'u');
      break;
    }
    case 'x':
    case 'X': {
      if (!c.length) c.length = kDefaultHexWidth;
      std::uint32_t v = va_arg(ap, unsigned);
      li_phex(li_tmpbuff, &v);
      break;
    }
    case 'f': {
      double v = va_arg(ap, double);
      li_pfloat(li_tmpbuff, &v, static_cast<signed char>(c.prec));
      break;
    }
    case 's':
      convert_string(c, va_arg(ap, const char*));
      return;
    default:
      return;  // swallowed: no argument, the field is all fill
  }
  c.written = fill_after_number(li_tmpbuff, fill);
}

void put_right(const Conversion& c) {
  for (int i = c.length - 1; i >= 0; --i) li_putc(li_tmpbuff[i]);
}

// The significant text first, then blanks up to the width. With space fill that text is everything
// up to the highest non-blank position. With zero fill the zeros are fill, not text, so the converted
// length counts instead. Either way the field stays `length` wide: text longer than the field shows
// its last characters, as a right-justified number does.
void put_left(const Conversion& c) {
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

int mprintf(const char* fmt, ...) {
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
