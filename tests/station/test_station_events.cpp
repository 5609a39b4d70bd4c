// Reading vexal's event stream: lines out of pipe pieces, events out of lines.
#include <gtest/gtest.h>

#include "frontends/station/model/events.h"

namespace vx::station {
namespace {

TEST(StationEvents, EachKindWithItsFields) {
  auto start = parse_event(R"({"event":"start","version":"0.95","port":"/dev/ttyUSB0","pid":1234})");
  ASSERT_TRUE(start);
  EXPECT_EQ(start->kind, EventKind::Start);
  EXPECT_EQ(start->text, "0.95");
  EXPECT_EQ(start->port, "/dev/ttyUSB0");

  auto phase = parse_event(R"({"event":"phase","phase":"loading","file":"firmware.s28"})");
  ASSERT_TRUE(phase);
  EXPECT_EQ(phase->kind, EventKind::Phase);
  EXPECT_EQ(phase->phase, "loading");
  EXPECT_EQ(phase->file, "firmware.s28");

  auto identity = parse_event(R"({"event":"identity","id":"VQ-3140 ZARVEN v1.28"})");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->kind, EventKind::Identity);
  EXPECT_EQ(identity->text, "VQ-3140 ZARVEN v1.28");

  auto progress = parse_event(R"({"event":"progress","phase":"loading","done":65536,"total":237664})");
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->kind, EventKind::Progress);
  EXPECT_EQ(progress->done, 65536);
  EXPECT_EQ(progress->total, 237664);

  auto end = parse_event(R"({"event":"end","code":5,"error":"Error: No response.","bytes":237664,"seconds":24.81})");
  ASSERT_TRUE(end);
  EXPECT_EQ(end->kind, EventKind::End);
  EXPECT_EQ(end->code, 5);
  EXPECT_EQ(end->text, "Error: No response.");
  EXPECT_EQ(end->bytes, 237664);
  EXPECT_DOUBLE_EQ(end->seconds, 24.81);
}

TEST(StationEvents, FilesAndTheEndsDetails) {
  auto file = parse_event(R"({"event":"file","role":"nested","path":"sub/b.cmd","size":12,"sha256":")" +
                          std::string(64, '0') + R"("})");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->kind, EventKind::File);
  EXPECT_EQ(file->role, "nested");
  EXPECT_EQ(file->path, "sub/b.cmd");
  EXPECT_EQ(file->size, 12);
  EXPECT_EQ(file->sha256, std::string(64, '0'));
  auto fifo = parse_event(R"({"event":"file","role":"binput","path":"/dev/stdin"})");
  ASSERT_TRUE(fifo);
  EXPECT_FALSE(fifo->size);

  auto end = parse_event(R"({"event":"end","code":4,"error":"Error:s|!refused |","reason":"block 3 refused",)"
                         R"("bytes":300,"written":256,"read":44,"text_retries":0,"block_retries":7,"seconds":1.5,)"
                         R"("time":"2026-12-09T02:14:23Z"})");
  ASSERT_TRUE(end);
  EXPECT_EQ(end->reason, "block 3 refused");
  EXPECT_EQ(end->written, 256);
  EXPECT_EQ(end->read, 44);
  EXPECT_EQ(end->text_retries, 0);  // said, and none: not the same as not said
  EXPECT_EQ(end->block_retries, 7);
  auto older = parse_event(R"({"event":"end","code":0,"error":"","bytes":300,"written":"256","seconds":1.5})");
  ASSERT_TRUE(older);
  EXPECT_FALSE(older->written || older->read || older->text_retries || older->block_retries);
}

TEST(StationEvents, EscapesInTexts) {
  auto end = parse_event(R"({"event":"end","code":6,"error":"Error: \"x\"\tA\u00e9\\","bytes":0,"seconds":0})");
  ASSERT_TRUE(end);
  EXPECT_EQ(end->text, "Error: \"x\"\tA\xC3\xA9\\");
}

TEST(StationEvents, LargeCounts) {
  auto progress = parse_event(R"({"event":"progress","phase":"reading","done":4294967296,"total":16777216000})");
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->done, 4294967296LL);
  EXPECT_EQ(progress->total, 16777216000LL);
}

TEST(StationEvents, MissingOrMistypedFieldsAreLeftEmpty) {
  auto end = parse_event(R"({"event":"end","code":"5","bytes":null,"newer_field":[1,2]})");
  ASSERT_TRUE(end);
  EXPECT_EQ(end->code, 0);
  EXPECT_FALSE(end->bytes.has_value());  // not said: unknown, never taken as 0
  EXPECT_EQ(end->text, "");
  auto phase = parse_event(R"({"event":"phase"})");
  ASSERT_TRUE(phase);
  EXPECT_EQ(phase->phase, "");
}

TEST(StationEvents, AnUnknownKindIsAnEventOfNoConsequence) {
  auto other = parse_event(R"({"event":"temperature","celsius":41})");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->kind, EventKind::Other);
}

TEST(StationEvents, LinesThatAreNoEvent) {
  for (const char* line : {"", "Exit code     0", "{", "[1,2]", "\"start\"", R"({"phase":"loading"})", R"({"event":5})",
                           R"({"event":null})", R"({"event":"end"} trailing)"})
    EXPECT_FALSE(parse_event(line)) << line;
}

std::vector<std::string> lines_of(EventLines& lines, const std::vector<std::string>& pieces) {
  std::vector<std::string> got;
  for (const std::string& piece : pieces) lines.feed(piece, [&](std::string_view line) { got.emplace_back(line); });
  return got;
}

TEST(StationEvents, LinesAcrossPieces) {
  EventLines lines;
  EXPECT_EQ(lines_of(lines, {"{\"a\"", ":1}\n{\"b\":2}\n{\"c\"", "", ":3}", "\n\n"}),
            (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", "{\"c\":3}", ""}));
  EXPECT_TRUE(lines_of(lines, {"no end yet"}).empty());
  EXPECT_EQ(lines_of(lines, {"\n"}), std::vector<std::string>{"no end yet"});
}

TEST(StationEvents, AnOverlongLineIsDroppedWholeAndTheNextOneRead) {
  EventLines lines;
  const std::string half(EventLines::kMaxEventLine / 2 + 1, 'x');
  EXPECT_TRUE(lines_of(lines, {half, half, half, "tail\n"}).empty());
  EXPECT_EQ(lines_of(lines, {"next\n"}), std::vector<std::string>{"next"});
  const std::string longest(EventLines::kMaxEventLine, 'y');
  EXPECT_EQ(lines_of(lines, {longest + "\n"}), std::vector<std::string>{longest});
}

}  // namespace
}  // namespace vx::station
