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
// Not reentrant (one work buffer): call it from the loader's thread only.
#pragma once

namespace vx {

inline constexpr int kWorkBufferSize = 310;
inline constexpr int JLEFT = 1;
inline constexpr int JRIGHT = 2;

int mprintf(const char* fmt, ...);

// The digit writers: least significant first from txt[0] on. They never write past txt[kWorkBufferSize-1].
void li_phex(char* txt, const void* hex);
void li_pdec(char* txt, const void* dec, signed char alen, signed char unsig);
void li_pfloat(char* txt, const void* flt, signed char prec);

// 1 when the byte ends a %s field: below 0x20 or above 0x7F.
int weirdchar(char a);

}  // namespace vx
