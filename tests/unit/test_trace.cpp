// The frame trace: how a line reads, how the file is kept, and a loader run with VEXAL_TRACE set.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "console/diag.h"
#include "protocol/frame.h"
#include "serial/trace.h"
#include "tests/support/scripted_board.h"

namespace vx::test {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Bytes without_end_byte(Bytes frame) {
  frame.pop_back();
  return frame;
}

Bytes joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Diagnostics caught for the life of the object.
struct CaughtDiagnostics {
  std::vector<std::string> lines;
  CaughtDiagnostics() {
    set_diagnostic_sink([this](const std::string& line) { lines.push_back(line); });
  }
  ~CaughtDiagnostics() { set_diagnostic_sink(nullptr); }
};

LinkSettings tracing() {
  LinkSettings settings;
  settings.trace_path = "trace.txt";
  return settings;
}

// --- what a line shows -----------------------------------------------------------------------------

struct TextCase {
  const char* edge;
  Bytes bytes;
  std::string text;  // empty: shown as bytes only
};

TEST(TraceText, PrintableFramesShowTheirText) {
  Bytes block = ft12::make_frame(hex_bytes("47 F5 73 00 20 00 02 AB 00 11 22").data(), 11);
  const TextCase cases[] = {
      {"request", ft12::text_request("I000000\n"), "\"I000000\\n\""},
      {"answer", ft12::text_answer("VQ-3140 ZARVEN v1.28"), "\"VQ-3140 ZARVEN v1.28\""},
      {"empty answer text", ft12::text_answer(""), "\"\""},
      {"quote, backslash, CR and tab escaped", ft12::text_answer("a\"b\\c\r\td"), "\"a\\\"b\\\\c\\r\\td\""},
      {"block telegram is binary", block, ""},
      {"frame cut short", without_end_byte(ft12::text_answer("OK")), ""},
      {"noise before a frame", joined(hex_bytes("00"), ft12::text_answer("OK")), ""},
      {"late answer and the answer", joined(ft12::text_answer("*"), ft12::text_answer("=12")), "\"*\""},
  };
  for (const auto& c : cases) EXPECT_EQ(frame_text(c.bytes.data(), c.bytes.size()), c.text) << c.edge;
}

struct LineCase {
  const char* edge;
  Micros at;
  const char* direction;
  Bytes bytes;
  const char* note;
  const char* line;
};

TEST(TraceText, LineLayout) {
  const LineCase cases[] = {
      {"bytes and a note", Micros(12503), "tx", hex_bytes("68 04 04 68"), "\"\"",
       "    12.503 tx   68 04 04 68  | \"\"\n"},
      {"a note without bytes", Micros(306000), "rx", Bytes{}, "nothing received",
       "   306.000 rx    | nothing received\n"},
      {"a long run keeps its digits", Micros(123456789012), "drop", hex_bytes("16"), "", "123456789.012 drop 16\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(trace_line(c.at, c.direction, c.bytes.data(), c.bytes.size(), c.note), c.line) << c.edge;
}

// --- the file --------------------------------------------------------------------------------------

TEST(TraceFile, AppendsAndEveryLineIsThereAtOnce) {
  TempDir dir;
  dir.write("t.txt", "earlier run\n");
  FakeClock clock;
  clock.advance(Micros(5000000));  // the trace counts from its own opening, not the clock's zero
  FrameTrace trace("t.txt", clock);
  ASSERT_TRUE(trace.active());
  const Bytes request = ft12::text_request("I000000\n");
  clock.advance(Micros(1500));
  trace.sent(request.data(), request.size(), true);
  std::vector<std::string> lines = lines_of(dir.read("t.txt"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier run");
  EXPECT_EQ(lines[1].rfind("     0.000 note  | trace opened ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "     1.500 tx   " + hex_string(request) + "  | \"I000000\\n\"");

  trace.received(nullptr, 0);
  trace.sent(request.data(), request.size(), false);
  const Bytes trailing = hex_bytes("55 AA");
  trace.dropped(trailing.data(), trailing.size());
  lines = lines_of(dir.read("t.txt"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "     1.500 rx    | nothing received");
  EXPECT_EQ(lines[4], "     1.500 tx   " + hex_string(request) + "  | \"I000000\\n\"; write not completed");
  EXPECT_EQ(lines[5], "     1.500 drop 55 AA  | after an answer frame, dropped");
}

TEST(TraceFile, UnopenableFileIsReportedOnceAndNothingFails) {
  TempDir dir;
  CaughtDiagnostics caught;
  FakeClock clock;
  FrameTrace trace("no/such/folder/t.txt", clock);
  EXPECT_FALSE(trace.active());
  const Bytes request = ft12::text_request("I000000\n");
  trace.sent(request.data(), request.size(), true);
  trace.received(request.data(), request.size());
  ASSERT_EQ(caught.lines.size(), 1u);
  EXPECT_NE(caught.lines[0].find("can't open the trace file no/such/folder/t.txt"), std::string::npos);
}

TEST(TraceFile, FullDiskIsReportedOnceAndTheTraceStops) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  CaughtDiagnostics caught;
  FakeClock clock;
  FrameTrace trace("/dev/full", clock);
  const Bytes request = ft12::text_request("I000000\n");
  for (int i = 0; i < 3; ++i) trace.sent(request.data(), request.size(), true);
  EXPECT_FALSE(trace.active());
  ASSERT_EQ(caught.lines.size(), 1u);
  EXPECT_NE(caught.lines[0].find("can't write the trace file /dev/full"), std::string::npos);
}

// --- a loader run ----------------------------------------------------------------------------------

std::vector<std::string> directions(const std::vector<std::string>& lines) {
  std::vector<std::string> d;
  for (const auto& l : lines) d.push_back(l.substr(11, 4));
  return d;
}

TEST(TraceRun, IdentityQueryIsTracedAndTheConsoleIsUnchanged) {
  TempDir dir;
  ScriptedBoard plain;
  const LoaderRun untraced = run_loader({}, plain);
  ScriptedBoard board;
  const LoaderRun traced = run_loader({}, board, nullptr, tracing());
  EXPECT_EQ(traced.code, 0);
  EXPECT_EQ(traced.stream, untraced.stream);
  EXPECT_TRUE(traced.diagnostics.empty());
  const std::vector<std::string> lines = lines_of(dir.read("trace.txt"));
  ASSERT_EQ(lines.size(), 3u) << dir.read("trace.txt");
  EXPECT_EQ(directions(lines), (std::vector<std::string>{"note", "tx  ", "rx  "}));
  EXPECT_NE(lines[1].find("  | \"I000000\\n\""), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("  | \"VQ-3140 ZARVEN v1.28\""), std::string::npos) << lines[2];
}

TEST(TraceRun, SilentBoardShowsNineEmptyWindows) {
  TempDir dir;
  ScriptedBoard board;
  board.handler = [](const Bytes&) { return std::vector<Chunk>{}; };
  const LoaderRun run = run_loader({}, board, nullptr, tracing());
  EXPECT_EQ(run.code, 5);
  const std::vector<std::string> lines = lines_of(dir.read("trace.txt"));
  ASSERT_EQ(lines.size(), 1u + 2 * 9);
  for (std::size_t i = 2; i < lines.size(); i += 2)
    EXPECT_NE(lines[i].find("rx    | nothing received"), std::string::npos) << lines[i];
}

// Bytes that follow an answer frame within the line's idle gap (33 bit times, 0.86 ms at 38400 baud) are
// read and dropped before the next request; those after the run's last answer are read and dropped by
// the listen at the run's end, and traced the same way.
TEST(TraceRun, BytesDroppedAfterAnAnswerAreTraced) {
  TempDir dir;
  ScriptedBoard board;
  board.handler = [&board](const Bytes&) {
    return std::vector<Chunk>{Chunk{Micros(1000), ft12::text_answer("OK")}, Chunk{Micros(300), hex_bytes("EE EE")}};
  };
  const LoaderRun run = run_loader({"A", "B"}, board, nullptr, tracing());
  EXPECT_EQ(run.code, 0);
  const std::vector<std::string> lines = lines_of(dir.read("trace.txt"));
  EXPECT_EQ(directions(lines), (std::vector<std::string>{"note", "tx  ", "rx  ", "drop", "tx  ", "rx  ", "drop"}))
      << dir.read("trace.txt");
}

}  // namespace
}  // namespace vx::test
