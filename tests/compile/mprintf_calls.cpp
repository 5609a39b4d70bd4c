// mprintf calls for the compile test (mprintf_calls.cmake): built with MPRINTF_CALL unset, the calls the
// loader makes in every shape (literal, constant pointer, char array, narrow integers, float) must
// compile; with MPRINTF_CALL=N, call N alone, which must not.
#include <cstdint>

#include "console/mprintf.h"

namespace {

constexpr const char* kNamedFormat = "Error: Bad length (%d/%d).\n";
char answer_text[16] = "OK";

[[maybe_unused]] void calls(const char* runtime_format) {
  (void)runtime_format;
#if !defined(MPRINTF_CALL)
  vx::mprintf("plain text, 100%% sure\n");
  vx::mprintf(kNamedFormat, std::int32_t{3}, 4);
  vx::mprintf("%s|%c|%06X|%-5u|%ld\n", answer_text, 'A', std::uint32_t{0x30002}, std::uint8_t{7}, 8);
  vx::mprintf("%5.2f %3y%s\n", 2.5f, "swallowed takes nothing");
#elif MPRINTF_CALL == 1
  vx::mprintf("%d/%d\n", 1);
#elif MPRINTF_CALL == 2
  vx::mprintf("%d\n", 1, 2);
#elif MPRINTF_CALL == 3
  vx::mprintf("%d\n", "text");
#elif MPRINTF_CALL == 4
  vx::mprintf("%s\n", 42);
#elif MPRINTF_CALL == 5
  vx::mprintf("%x\n", 1.0);
#elif MPRINTF_CALL == 6
  vx::mprintf("%d\n", std::int64_t{1});
#elif MPRINTF_CALL == 7
  vx::mprintf("%f\n", 1);
#elif MPRINTF_CALL == 8
  vx::mprintf("%d\n", true);
#elif MPRINTF_CALL == 9
  vx::mprintf("%y\n", 1);
#elif MPRINTF_CALL == 10
  vx::mprintf("100%");
#elif MPRINTF_CALL == 11
  vx::mprintf(runtime_format);
#endif
}

}  // namespace
