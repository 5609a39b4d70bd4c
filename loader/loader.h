// The loader core: the driver, the command-file interpreter, the memory commands and the S-record
// packing. Everything here runs on the loader's thread, one step after another; every failure prints
// one line and ends the run through finish (console/finish.h).
#pragma once

#include <cstdint>

namespace vx {

// --- driver (vexal.cpp) ---
extern std::uint32_t olds24;  // index of the argument "old", 0 when none: S2/S8 lines go as text
extern std::uint32_t ramc;    // index of the argument "ram", 0 when none
int vexal(std::uint32_t argc, char** argv);
void driver_reset();

// --- command files (cmdfile.cpp) ---
inline constexpr int kMaxNesting = 64;
inline constexpr int kMaxFileLine = 245;  // characters per read, the line feed included
void zpracuj_soubor(const char* soubor);
void cmdfile_reset();

// --- memory commands (memcmd.cpp) ---
// Returns nullptr when the command ran, else "Syntax error" or "Unknown command".
const char* zpracuj_prikaz(const char* p);
void binget(std::int32_t odkud, std::int32_t kolik, const char* soubor);
void hexget(std::int32_t odkud, std::int32_t kolik, const char* soubor);
void binput(std::int32_t kam, const char* soubor);

// --- S-records and blocks (srec.cpp) ---
extern std::uint32_t binadr;
extern unsigned char binbuf[128];
extern unsigned char binmask[16];
void binwrite(const char* b);
unsigned gethb(const char* p);
void sendbin();
bool block_pending();
void block_reset();

}  // namespace vx
