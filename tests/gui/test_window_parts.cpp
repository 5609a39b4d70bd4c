// The window's display-free parts: the console page it draws, the console font size it picks, the
// progress bar's hand-over from the loader's thread to the GUI thread (lines and transfers), and the
// choices --choose keeps.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "frontends/fltk/bar_mailbox.h"
#include "frontends/fltk/choices.h"
#include "frontends/fltk/console_page.h"

namespace {

using vxw::BarMailbox;
using vxw::BarState;

// ---- console page -------------------------------------------------------------------------------

struct LinesCase {
  const char* name;
  std::string visible;
  std::vector<std::string> lines;
};

class ConsoleLines : public testing::TestWithParam<LinesCase> {};

TEST_P(ConsoleLines, CutAtLineFeeds) { EXPECT_EQ(vxw::console_lines(GetParam().visible), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(
    Edges, ConsoleLines,
    testing::Values(LinesCase{"EmptyConsoleIsOneEmptyLine", "", {""}},
                    LinesCase{"NoLineFeedIsTheLineBeingWritten", "abc", {"abc"}},
                    LinesCase{"TrailingLineFeedLeavesEmptyLineBeingWritten", "a\nb\n", {"a", "b", ""}},
                    LinesCase{"LeadingLineFeedOfTheBannerGivesEmptyFirstLine", "\nVQ", {"", "VQ"}},
                    LinesCase{"EmptyLinesBetweenAreKept", "a\n\n\nb", {"a", "", "", "b"}},
                    LinesCase{"TabIsOneBlankCell", "a\tb", {"a b"}},
                    LinesCase{"EmbeddedZeroIsOneBlankCellNotTheEnd", std::string("a\0b", 3), {"a b"}},
                    LinesCase{"OemHighByteIsItsGlyph", "\x80\xE1\xB3\xFF", {"\u00C7\u00DF\u2502\u00A0"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The 80-column grid depends on it: whatever byte the loader printed, it takes exactly one cell.
TEST(ConsoleLines, EveryByteButLineFeedIsExactlyOneCharacter) {
  for (int byte = 0; byte < 256; ++byte) {
    if (byte == '\n') continue;
    const std::string glyph = vxw::glyph_for(static_cast<unsigned char>(byte));
    int characters = 0;
    for (unsigned char c : glyph)
      if ((c & 0xC0) != 0x80) ++characters;  // lead bytes only
    EXPECT_EQ(characters, 1) << "byte " << byte;
    EXPECT_NE(glyph, "") << "byte " << byte;
  }
}

TEST(ConsoleLines, FullConsoleGivesNineteenLines) {
  std::string visible;
  for (int k = 0; k < vx::kConsoleLines - 1; ++k) visible += std::string(vx::kConsoleColumns, 'x') + "\n";
  visible += "tail";
  const auto lines = vxw::console_lines(visible);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(vx::kConsoleLines));
  EXPECT_EQ(lines.back(), "tail");
}

// ---- font size --------------------------------------------------------------------------------

struct FontCase {
  const char* name;
  std::vector<std::pair<int, double>> widths;  // size -> column width; unlisted sizes are too wide
  int chosen;
};

class FontSize : public testing::TestWithParam<FontCase> {};

TEST_P(FontSize, LargestThatFitsEightyColumns) {
  const auto& widths = GetParam().widths;
  auto measure = [&widths](int size) {
    for (const auto& [s, w] : widths)
      if (s == size) return w;
    return 100.0;
  };
  EXPECT_EQ(vxw::choose_font_size(measure, 80, 640, 14, 8), GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(Edges, FontSize,
                         testing::Values(FontCase{"PreferredFitsExactly", {{14, 8.0}}, 14},
                                         FontCase{"PreferredTooWideByAHair", {{14, 8.0001}, {13, 7.8}}, 13},
                                         FontCase{"WideFaceStepsDownSeveralSizes", {{11, 7.9}}, 11},
                                         FontCase{"NothingFitsTakesTheSmallest", {}, 8}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- bar hand-over ---------------------------------------------------------------------------------

struct CountingWake {
  int calls = 0;
  bool accept = true;
  BarMailbox::Wake fn() {
    return [this] {
      ++calls;
      return accept;
    };
  }
};

struct PositionCase {
  const char* name;
  int sent;
  int shown;
};

class BarPosition : public testing::TestWithParam<PositionCase> {};

TEST_P(BarPosition, ShownWithinTheBarsRange) {
  CountingWake wake;
  BarMailbox box(wake.fn());
  box.show("f.txt");
  box.set_position(GetParam().sent);
  EXPECT_EQ(box.take(), (BarState{true, GetParam().shown, "f.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Edges, BarPosition,
                         testing::Values(PositionCase{"Full", 100, 100},
                                         PositionCase{"MoreLinesThanLineFeedsShowsFull", 150, 100},
                                         PositionCase{"HugeShowsFull", 2147483647, 100},
                                         PositionCase{"NegativeShowsEmpty", -5, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BarMailbox, HideTakesBarAndPositionAway) {
  CountingWake wake;
  BarMailbox box(wake.fn());
  box.show("f");
  box.set_position(70);
  ASSERT_TRUE(box.take());
  box.hide();
  EXPECT_EQ(box.take(), BarState{});
}

TEST(BarLabel, NamesTheFileAndThePercentage) {
  EXPECT_EQ(vxw::bar_label(BarState{true, 45, "job.txt"}), "job.txt 45%");
  EXPECT_EQ(vxw::bar_label(BarState{true, 100, "a b.s28"}), "a b.s28 100%");
}

// A firmware file has thousands of lines; the event loop must not get one request per line.
TEST(BarMailbox, OneWakeOutstandingUntilTheGuiTakes) {
  CountingWake wake;
  BarMailbox box(wake.fn());
  box.show("f");
  for (int k = 1; k <= 1000; ++k) box.set_position(k / 10);
  EXPECT_EQ(wake.calls, 1);
  EXPECT_EQ(box.take(), (BarState{true, 100, "f"}));
  box.set_position(5);
  EXPECT_EQ(wake.calls, 2);
}

TEST(BarMailbox, RefusedWakeIsTriedAgainOnTheNextChange) {
  CountingWake wake;
  wake.accept = false;
  BarMailbox box(wake.fn());
  box.show("f");
  box.set_position(10);
  EXPECT_EQ(wake.calls, 2);
  wake.accept = true;
  box.set_position(20);
  box.set_position(30);
  EXPECT_EQ(wake.calls, 3);
  EXPECT_EQ(box.take(), (BarState{true, 30, "f"}));
}

TEST(BarMailbox, UnchangedStateIsNotTakenTwice) {
  CountingWake wake;
  BarMailbox box(wake.fn());
  box.show("f");
  box.set_position(40);
  ASSERT_TRUE(box.take());
  box.set_position(40);
  box.show("f");
  EXPECT_EQ(box.take(), std::nullopt);
  EXPECT_EQ(wake.calls, 1);
}

// A nested file hides the outer file's bar and shows its own before the GUI looks: the GUI sees
// the bar shown at the nested file's position, never a stale one.
TEST(BarMailbox, HideThenShowBetweenTakesEndsShownAtTheNewPosition) {
  CountingWake wake;
  BarMailbox box(wake.fn());
  box.show("outer");
  box.set_position(80);
  ASSERT_TRUE(box.take());
  box.hide();
  box.show("inner");
  box.set_position(10);
  EXPECT_EQ(box.take(), (BarState{true, 10, "inner"}));
}

// Run under ThreadSanitizer (-DVEXAL_TSAN=ON) this also proves the hand-over race-free.
TEST(BarMailbox, GuiThreadEndsWithTheLoadersLastState) {
  std::atomic<int> wakes{0};
  BarMailbox box([&wakes] {
    ++wakes;
    return true;
  });
  std::thread loader([&box] {
    for (int round = 0; round < 50; ++round) {
      box.show("f");
      for (int line = 1; line <= 200; ++line) box.set_position(line / 2);
      box.hide();
    }
    box.show("f");
    box.set_position(42);
  });
  std::optional<BarState> last;
  for (int k = 0; k < 10000; ++k)
    if (auto state = box.take()) last = state;
  loader.join();
  if (auto state = box.take()) last = state;
  ASSERT_TRUE(last);
  EXPECT_EQ(*last, (BarState{true, 42, "f"}));
  EXPECT_GE(wakes.load(), 1);
}

// ---- the bar follows transfers ----------------------------------------------------------------------

vx::TransferProgress at(std::int64_t done, std::int64_t total) {
  vx::TransferProgress p;
  p.done = done;
  p.total = total;
  return p;
}

TEST(BarMailbox, TransfersTakeTheBarAndGiveItBack) {
  BarMailbox mailbox([] { return true; });
  mailbox.show("job.txt");
  mailbox.set_position(40);
  mailbox.phase_started(vx::Phase::Loading, "job.txt");  // a command file of commands: nothing measured
  mailbox.phase_started(vx::Phase::Identity, "");        // no data moves: no transfer
  EXPECT_EQ(mailbox.take(), (BarState{true, 40, "job.txt"}));
  mailbox.phase_started(vx::Phase::Verifying, "fw/fw.s28");
  mailbox.progress(at(250, 1000));
  EXPECT_EQ(mailbox.take(), (BarState{true, 25, "verifying fw.s28"}));
  mailbox.progress(at(500, 1000));
  mailbox.transfer_ended();
  EXPECT_EQ(mailbox.take(), (BarState{true, 40, "job.txt"}));
  EXPECT_EQ(mailbox.stopped_at(), (BarState{true, 50, "verifying fw.s28"})) << "the verify ended short";
  mailbox.transfer_ended();  // the command file, on the way out
  EXPECT_EQ(mailbox.stopped_at(), (BarState{true, 50, "verifying fw.s28"})) << "the innermost stays the place";
  mailbox.phase_started(vx::Phase::Reading, "");
  mailbox.progress(at(64, 64));
  mailbox.transfer_ended();
  EXPECT_EQ(mailbox.stopped_at(), (BarState{true, 40, "job.txt"})) << "a whole transfer: the lines' place";
  mailbox.clear();
  EXPECT_EQ(mailbox.stopped_at(), BarState{});
}

// ---- the choices of --choose -----------------------------------------------------------------------

TEST(Choices, KeptWhereTheUserConfigurationGoes) {
  EXPECT_EQ(vxw::choices_path("/cfg", "/users/t"), "/cfg/vexal/vexalw.conf");
  EXPECT_EQ(vxw::choices_path("relative", "/users/t"), "/users/t/.config/vexal/vexalw.conf");
  EXPECT_EQ(vxw::choices_path(nullptr, "/users/t"), "/users/t/.config/vexal/vexalw.conf");
  EXPECT_EQ(vxw::choices_path(nullptr, nullptr), "");
}

TEST(Choices, ReadBackAsWrittenUnknownLinesPassedOver) {
  const vxw::Choices written{"/dev/ttyUSB0", "/fw/a b.s28", 57600};
  EXPECT_EQ(vxw::parse_choices(vxw::format_choices(written)), written);
  struct Row {
    const char* text;
    vxw::Choices read;
  } rows[] = {
      {"", {}},
      {"baud=12345\n", {}},  // not a rate the loader takes
      {"colour=red\nfile=x.txt\nbaud=9600", {"", "x.txt", 9600}},
  };
  for (const Row& row : rows) EXPECT_EQ(vxw::parse_choices(row.text), row.read) << row.text;
}

TEST(Choices, SavedAndLoaded) {
  const std::string path = testing::TempDir() + "vexalw-choices/vexal/vexalw.conf";
  const vxw::Choices choices{"/dev/ttyUSB1", "job.txt", 9600};
  std::string why;
  ASSERT_TRUE(vxw::save_choices(path, choices, why)) << why;
  EXPECT_EQ(vxw::load_choices(path), choices);
  EXPECT_EQ(vxw::load_choices(path + ".missing"), vxw::Choices{});
}

TEST(Choices, LoaderArgumentsAndPortEntries) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(vxw::job_arguments({"/dev/ttyUSB0", "fw.s28", 115200}),
            (Args{"--port", "/dev/ttyUSB0", "b115200", "fw.s28"}));
  EXPECT_EQ(vxw::job_arguments({"", "", 9600}), (Args{"b9600"}));
  vx::SerialPortInfo port{"/dev/ttyUSB0", "usb-Maker_Board-if00-port0", "", "", ""};
  EXPECT_EQ(vxw::port_entry(port), "usb-Maker_Board-if00-port0 (/dev/ttyUSB0)");
  EXPECT_EQ(vxw::device_of_entry(vxw::port_entry(port)), "/dev/ttyUSB0");
  port.by_id.clear();
  EXPECT_EQ(vxw::device_of_entry(vxw::port_entry(port)), "/dev/ttyUSB0");
  EXPECT_EQ(vxw::device_of_entry("/dev/odd (name)x"), "/dev/odd (name)x");
  // A board on another host is typed as its URL and goes to --port as it stands.
  for (const char* url : {"rfc2217://rack-a:3001", "tcp://[::1]:4001"}) {
    EXPECT_EQ(vxw::device_of_entry(url), url);
    EXPECT_EQ(vxw::job_arguments({url, "fw.s28", 115200}), (Args{"--port", url, "b115200", "fw.s28"}));
  }
}

}  // namespace
