// The console store on any character stream.
//
// Invariants: at most 19 lines and 3200 characters are visible; the snapshot is consistent (its text is
// slen characters, holds slines - 1 line feeds and no carriage return); and it shows exactly the last
// lines of the same stream as LineView, the store's independent line model that the terminal prints
// from, so the ring, the scrolling and the erasing agree with the plain rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/lineview.h"
#include "fuzz/fuzz_support.h"

namespace {

using vx::fuzz::require;

constexpr std::size_t kCheckEvery = 97;  // characters between checks: often enough, and cheap

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n')
      lines.emplace_back();
    else
      lines.back().push_back(c);
  }
  return lines;
}

void check(const vx::LineView& model) {
  const vx::ConsoleSnapshot s = vx::console_snapshot();
  require(s.slen >= 0 && s.slen <= vx::kRingSize, "slen " + std::to_string(s.slen) + " outside the ring");
  require(s.slines >= 1 && s.slines <= vx::kConsoleLines, "slines " + std::to_string(s.slines));
  require(s.text.size() == static_cast<std::size_t>(s.slen), "snapshot text is not slen long");
  require(s.text.find('\r') == std::string::npos, "a carriage return was stored");
  const auto shown = split_lines(s.text);
  require(shown.size() == static_cast<std::size_t>(s.slines), "line feeds shown differ from slines");

  std::vector<std::string> all;
  for (const auto& line : model.completed()) all.push_back(line.text);
  all.push_back(model.current());
  const std::size_t visible = std::min(all.size(), static_cast<std::size_t>(vx::kConsoleLines));
  require(shown.size() == visible,
          "shows " + std::to_string(shown.size()) + " lines, not the last " + std::to_string(visible));
  require(std::equal(shown.begin(), shown.end(), all.end() - static_cast<long>(visible)),
          "the visible lines are not the stream's last lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vx::fresh_run();
  vx::LineView model;
  std::size_t tapped = 0;
  vx::console_set_tap([&tapped](char) { ++tapped; });
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    vx::li_putc(c);
    model.putc(c);
    if (i % kCheckEvery == 0) check(model);
  }
  check(model);
  require(tapped == size, "the tap missed characters");
  vx::console_set_tap(nullptr);
  return 0;
}
