// The loader core: the driver, the command-file interpreter, the memory commands and the S-record
// packing. Everything here runs on the loader's thread, one step after another; every failure prints
// one line and ends the run through finish (console/finish.h). What a run keeps between steps is the
// loader's state (loader/state.h).
#pragma once

#include <cstdint>
#include <optional>

#include "loader/record_head.h"

namespace vx {

// --- driver (vexal.cpp) ---
int vexal(std::uint32_t argc, char** argv);
// After a raw command: when it was the identity query and was answered, the identity is known.
void note_identity_answer(const char* command);

// --- one command, from an argument or a command file (command.cpp) ---
enum class CommandFrom { Argument, File };
// "Executing:%s\n", then the memory command; one it does not understand ends the run with
// "Error: %s:%s \n" (its error and the text), exit code 9.
void memory_command(const char* text);
// The text goes to the board as it is (with its line feed): "Send scmd: " from an argument, "Send: "
// from a file, then "Answer: "; an answer holding '!' or '?' ends the run with "Error: Negative
// response.\n", exit code 7 from an argument, 6 from a file.
void raw_command(const char* text, CommandFrom from);

// --- command files (cmdfile.cpp) ---
inline constexpr int kMaxNesting = 64;
void zpracuj_soubor(const char* soubor);

// --- memory commands (memcmd.cpp) ---
// Returns nullptr when the command ran, else "Syntax error" or "Unknown command".
const char* zpracuj_prikaz(const char* p);
void binget(std::int32_t odkud, std::int32_t kolik, const char* soubor);
void hexget(std::int32_t odkud, std::int32_t kolik, const char* soubor);
void binput(std::int32_t kam, const char* soubor);
// "@load<file" and "@load012300<file" (loader/firmware_file.h reads the file): the image goes as a
// download of S2 records in address order would go, blocks then the S8 line; with "old", as S2 lines
// then the S8 line.
void load(const char* soubor, std::optional<std::uint32_t> address);
// "@verify<file" and "@verify012300<file" (verify.h tells what it expects): reads the file as "@load"
// does, a later record's bytes standing where records overlap, sends a pending block before its first
// read, reads back every run of the image in address order in read telegrams of 64 bytes, stops at the
// first difference (exit code 9), refuses a file with nothing to check (9) and prints the count on
// success.
void verify(const char* soubor, std::optional<std::uint32_t> address);

// --- S-records and blocks (srec.cpp) ---
// A block of an image as records would fill it: the pending block goes first when it is another. `base`
// is a multiple of 128; bytes and mask (protocol/block.h) stand for the block's 128 bytes.
void binwrite_block(std::uint32_t base, const std::uint8_t* bytes, const std::uint8_t* mask);
// The end of a download: the pending block, then the S8 line as text, confirmed with "%*" or the run
// ends with "Error: Unexpected response: %s" (exit code 6).
void finish_download(const char* line);
// An S2 or S8 line of the file and line `where` names (record_head.h reads it or ends the run).
void binwrite(const char* line, const record::Place& where);
// Ends the run with exit code 3 when S2 records were sent and no S8 followed them.
void refuse_unconfirmed_records();
unsigned gethb(const char* p);
void sendbin();
bool block_pending();
// The pending block, if any, goes now and its progress line ends: before a text telegram or a memory
// command, and at the end of a command file, so the board is written in the order the lines state.
void send_pending_block();

}  // namespace vx
