// A board in the test process: a scripted port on a fake clock.
//
// Every request frame the loader writes is recorded and answered by the board's rules (or a test's own
// handler) as chunks of bytes, each arriving a given gap after the one before. The loader's read window
// runs on the fake clock through the same collect_window as on a real port, so timing cases (late
// answers, pauses inside a frame, silence) cost no real time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/progress.h"
#include "serial/port.h"
#include "serial/settings.h"

namespace vx::test {

using Bytes = std::vector<std::uint8_t>;

class FakeClock : public Clock {
 public:
  Micros now() const override { return t_; }
  void sleep_for(Micros d) const override {
    if (d.count() > 0) t_ += d;
  }
  void advance(Micros d) { t_ += d; }
  void advance_to(Micros t) {
    if (t > t_) t_ = t;
  }

 private:
  mutable Micros t_{0};
};

struct Chunk {
  Micros gap;  // after the end of the request, or after the chunk before
  Bytes bytes;
};

Bytes bytes_of(const std::string& s);
std::string text_of(const Bytes& b);
Bytes hex_bytes(const std::string& spaced_hex);  // "68 0C 0C 68 ..."
std::string hex_string(const Bytes& b);

class ScriptedBoard {
 public:
  ScriptedBoard();

  // Exact command text (line feed included) -> answer text, or std::nullopt for silence.
  std::map<std::string, std::optional<std::string>> answers;
  std::string identity = "VQ-3140 ZARVEN v1.28";
  std::string default_answer = "OK";
  std::string block_answer = "*";
  std::string s8_answer = "%*";
  Micros answer_gap{Millis(1)};  // when the answer begins after the request

  // Replaces the rules for a request: return the chunks to send (empty: no answer).
  std::function<std::vector<Chunk>(const Bytes& request)> handler;

  // What the board received and answered, and the fake clock of the line.
  std::vector<Bytes> requests;
  FakeClock clock;
  bool open_fails = false;
  std::string opened_as;  // "COM1" / "COM2"
  LineSettings settings_seen;
  int opens = 0;

  // Installs this board as the port every zapni_UART opens (until uninstall or destruction).
  void install();
  static void uninstall();
  ~ScriptedBoard();

  // The answer text of a request frame's user data (after 0x47 0xF5), for rules.
  static std::string request_text(const Bytes& frame);
  // The default rules: identity, answers map, blocks '*', S8 "%*", else default_answer.
  std::vector<Chunk> answer_by_rules(const Bytes& request);
  std::vector<Chunk> answer_text(const std::string& text) const;

  // Line speed for the idle interval between answer and request (0: none).
  unsigned baud = 38400;
  // When each request was written (the fake clock), parallel to `requests`.
  std::vector<Micros> request_times;

  // The port side (used by the scripted port).
  void before_request(const std::uint8_t* request, std::size_t n);
  void listen_after_last_answer();
  std::size_t unsolicited_bytes() const;
  void on_request(const Bytes& frame);
  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window);

 private:
  struct Arrival {
    Micros at;
    Bytes bytes;
  };
  std::vector<Arrival> queue_;
  std::unique_ptr<ByteSource> source_;
  std::unique_ptr<AnswerReader> reader_;
  friend class ScriptedSource;
};

struct LoaderRun {
  int code = -1;
  std::string stream;            // every character the console received
  std::vector<std::string> log;  // non-blank lines, trailing blanks removed
  std::vector<std::string> diagnostics;
};

// Runs the loader in this process with the arguments (without the program's name) against `board`,
// from a fresh run's state with `settings`; `progress`, when given, is the run's progress view.
// With `ignore_checksums`, the run is as the front-ends' --ignore-checksums makes it. `watch`, when
// given, sees the console's stream after each character, on the loader's thread, as it is printed (a
// test acts at a point of the run: between a file's opening and its check, say).
using ConsoleWatch = std::function<void(const std::string& stream)>;
LoaderRun run_loader(const std::vector<std::string>& args, ScriptedBoard& board, ProgressView* progress = nullptr,
                     const LinkSettings& settings = {}, bool ignore_checksums = false, const ConsoleWatch& watch = {});

// The log lines a run prints before its work: banner skipped, settings line on. For comparisons.
std::vector<std::string> log_from_settings(const LoaderRun& run);

// A fresh directory that is the current one while this object lives.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
  std::string previous_;
};

}  // namespace vx::test
