// What every fuzz target needs: a fresh loader per input, a run that ends through finish caught as an
// exit code, a scratch folder for the files a run writes, an instant board, and loud invariant checks.
//
// Every input begins with fresh_run(), which constructs the console's, the link's and the loader's
// state anew: without it one input's leftovers (a pending block, a half answer) would make the next one's outcome
// depend on the order libFuzzer runs them in, and a crash could not be reproduced from its input alone.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/diag.h"
#include "console/finish.h"
#include "loader/run.h"
#include "serial/comdrv.h"
#include "protocol/frame.h"
#include "serial/port.h"

namespace vx::fuzz {

using Bytes = std::vector<std::uint8_t>;

// An invariant that failed: libFuzzer keeps the input that got here, and the message says which.
[[noreturn]] inline void violated(const std::string& what) {
  std::fprintf(stderr, "\n*** invariant violated: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline void require(bool holds, const std::string& what) {
  if (!holds) violated(what);
}

// Runs a piece of the loader; the exit code it finished with, or nothing when it returned.
template <typename Work>
std::optional<int> exit_code_of(Work&& work) {
  try {
    work();
  } catch (const RunEnded& end) {
    return end.code;
  }
  return std::nullopt;
}

// The pieces of an input between separator bytes (a byte plain text rarely holds, so seeds stay
// readable and mutations rarely move a boundary by accident).
inline constexpr char kSectionSeparator = '\x1e';

inline std::vector<std::string> sections(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> out(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (static_cast<char>(data[i]) == kSectionSeparator)
      out.emplace_back();
    else
      out.back().push_back(static_cast<char>(data[i]));
  }
  return out;
}

// A file name from the input that stays inside the scratch folder: no separators, so no other folder
// and no device (a nested command file named /dev/zero would never end).
inline std::string confined(std::string text) {
  for (char& c : text)
    if (c == '/' || c == '\\') c = '_';
  return text;
}

// The process's own scratch folder, made on first use and removed when the process ends normally (a
// crash leaves it for a look). While a ScratchDir lives it is the current folder, emptied of the files
// an earlier input wrote (memory reads); the folder before is restored after, so the corpus paths
// libFuzzer was given stay valid.
class ScratchDir {
 public:
  ScratchDir() : previous_(std::filesystem::current_path()) {
    static const Folder folder;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path, ec))
      std::filesystem::remove_all(entry.path(), ec);
    std::filesystem::current_path(folder.path);
  }
  ~ScratchDir() { std::filesystem::current_path(previous_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  static void write(const std::string& name, const std::string& content) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    require(f != nullptr, "scratch file can't be created: " + name);
    require(std::fwrite(content.data(), 1, content.size(), f) == content.size(), "scratch file write");
    require(std::fclose(f) == 0, "scratch file close");
  }
  static std::optional<std::string> read(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return std::nullopt;
    std::string out;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, got);
    require(std::fclose(f) == 0, "scratch file close");
    return out;
  }

 private:
  struct Folder {
    std::string path = (std::filesystem::temp_directory_path() / "vexal-fuzz-XXXXXX").string();
    Folder() { require(::mkdtemp(path.data()) != nullptr, "can't make a scratch folder"); }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  std::filesystem::path previous_;
};

// The text of a request frame (after the two tag bytes, before checksum and end byte).
inline std::string request_text(const Bytes& frame) {
  if (frame.size() < ft12::kTextOffset + 2) return {};
  return std::string(frame.begin() + ft12::kTextOffset, frame.end() - 2);
}

inline Bytes answer_frame(std::string_view text) { return ft12::text_answer(text); }

// A board that answers each request at once, within the same read window: the cheapest board there is.
// `answer` returns the bytes to send back (empty: silence).
using Answerer = std::function<Bytes(const Bytes& request)>;

class InstantPort : public Port {
 public:
  explicit InstantPort(Answerer answer) : answer_(std::move(answer)) {}
  bool write_frame(const std::uint8_t* data, std::size_t n, Millis) override {
    pending_ = answer_(Bytes(data, data + n));
    return true;
  }
  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow&) override {
    const std::size_t n = std::min(cap, pending_.size());
    if (n) std::memcpy(buf, pending_.data(), n);  // a silent board has no bytes, not even a buffer
    pending_.clear();
    return n;
  }

 private:
  Answerer answer_;
  Bytes pending_;
};

inline constexpr short kCom1 = kCom1Address;
inline constexpr signed char kIrq = 4;
inline constexpr int kBaud = static_cast<int>(kDefaultBaud);

// Resets the loader and opens COM1 on an instant board; the console goes to `console`.
inline void fresh_loader_on(Answerer answer, std::string& console) {
  fresh_run();
  console_set_tap([&console](char c) { console.push_back(c); });
  set_diagnostic_sink([](const std::string&) {});
  set_port_opener([answer](const std::string&, const LineSettings&) {
    return OpenResult{std::make_unique<InstantPort>(answer), {}};
  });
  require(zapni_UART(kCom1, kIrq, kBaud, 0) == 0, "the instant board's port did not open");
}

// Every failure prints one line that says so before its exit code.
inline bool reports_a_failure(const std::string& console) {
  for (const char* mark : {"Error", "Bad format", "Target didn't respond", "Wrong settings"})
    if (console.find(mark) != std::string::npos) return true;
  return false;
}

}  // namespace vx::fuzz
