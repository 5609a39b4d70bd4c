// The JSON and JUnit reports, field by field, and how they reach their files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "frontends/station/model/report.h"

namespace vx::station {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Boards {
  Board passed, failed, skipped;
  Boards() {
    passed.index = 1;
    passed.port = {"/dev/ttyUSB0", "usb-FTDI_A1-if00-port0", "0403:6001", "A1", "FTDI"};
    passed.name = "usb-FTDI_A1-if00-port0";
    passed.job = {"b115200", "fw.s28"};
    passed.log_path = "logs/usb-FTDI_A1-if00-port0.log";
    start_board(passed, SteadyTime{}, "2026-12-08T05:08:37.123Z");
    passed.phase = Phase::Done;
    passed.identity = "VQ-3140 ZARVEN v1.28";
    passed.bytes = 65536;
    passed.written = 65000;
    passed.read = 536;
    passed.text_retries = 0;
    passed.block_retries = 2;
    passed.vexal_version = "0.96";
    passed.attempt = 41;
    passed.units = {{"serial", "1000"}, {"mac", "02:00:5E:10:00:00"}};
    passed.unit_file = "line3.db.units/41.bin";
    passed.files = {{"command", "fw.s28", 181234, std::string(64, 'f')}};
    passed.ended_utc = "2026-12-08T05:08:44.623Z";
    passed.seconds = 7.5;

    failed.index = 2;
    failed.port = {"/tmp/b<2>", "", "", "", ""};
    failed.name = "b<2>";
    failed.job = {"@binget000000,000010>b<2>.bin"};
    start_board(failed, SteadyTime{}, "2026-12-08T05:08:37.456Z");
    failed.phase = Phase::Failed;
    failed.exit_code = 6;
    failed.error = "Error: \"bad\" & <worse> \x01\xff";
    failed.reason = "answer '!bad'";
    failed.seconds = 0.25;

    skipped.index = 3;
    skipped.port = {"/dev/ttyUSB2", "", "", "", ""};
    skipped.name = "ttyUSB2";
    skip_board(skipped);
  }
  std::vector<const Board*> all() const { return {&passed, &failed, &skipped}; }
};

const RunSummary kRun{"0.95", "bench-host", "line 3", "",  {"b115200", "{name}.bin"}, true, "2026-12-08T05:08:37.000Z",
                      "",     9.5,          0.125,    0.25};

TEST(StationReport, JsonStationPart) {
  Boards b;
  json report = json::parse(json_report(kRun, b.all()));
  const json& station = report.at("station");
  EXPECT_EQ(station.at("version"), "0.95");
  EXPECT_EQ(station.at("job"), json({"b115200", "{name}.bin"}));
  EXPECT_EQ(station.at("started"), "2026-12-08T05:08:37.000Z");
  EXPECT_DOUBLE_EQ(station.at("seconds").get<double>(), 9.5);
  EXPECT_DOUBLE_EQ(station.at("cpu_seconds").get<double>(), 0.125);
  EXPECT_DOUBLE_EQ(station.at("database_seconds").get<double>(), 0.25);
  EXPECT_EQ(station.at("passed"), 1);
  EXPECT_EQ(station.at("failed"), 1);
  EXPECT_EQ(station.at("not_started"), 1);
  EXPECT_EQ(station.at("running"), 0);
  EXPECT_EQ(station.at("waiting"), 0);
  EXPECT_EQ(station.at("host"), "bench-host");
  EXPECT_EQ(station.at("station"), "line 3");
  EXPECT_TRUE(station.at("operator").is_null());
  EXPECT_EQ(station.at("identify"), true);
  EXPECT_TRUE(station.at("ended").is_null());
  EXPECT_EQ(report.at("boards").size(), 3u);
}

TEST(StationReport, JsonBoardFields) {
  Boards b;
  json boards = json::parse(json_report(kRun, b.all())).at("boards");
  const json& passed = boards[0];
  EXPECT_EQ(passed.at("index"), 1);
  EXPECT_EQ(passed.at("port"), "/dev/ttyUSB0");
  EXPECT_EQ(passed.at("name"), "usb-FTDI_A1-if00-port0");
  EXPECT_EQ(passed.at("by_id"), "usb-FTDI_A1-if00-port0");
  EXPECT_EQ(passed.at("serial"), "A1");
  EXPECT_EQ(passed.at("vid_pid"), "0403:6001");
  EXPECT_EQ(passed.at("identity"), "VQ-3140 ZARVEN v1.28");
  EXPECT_EQ(passed.at("job"), json({"b115200", "fw.s28"}));
  EXPECT_EQ(passed.at("vexal_version"), "0.96");
  EXPECT_EQ(passed.at("files"), json::parse(R"([{"role":"command","path":"fw.s28","size":181234,"sha256":")" +
                                            std::string(64, 'f') + "\"}]"));
  EXPECT_EQ(passed.at("start"), "2026-12-08T05:08:37.123Z");
  EXPECT_EQ(passed.at("end"), "2026-12-08T05:08:44.623Z");
  EXPECT_EQ(passed.at("written"), 65000);
  EXPECT_EQ(passed.at("read"), 536);
  EXPECT_EQ(passed.at("text_retries"), 0);
  EXPECT_EQ(passed.at("block_retries"), 2);
  EXPECT_TRUE(passed.at("reason").is_null());
  EXPECT_DOUBLE_EQ(passed.at("duration").get<double>(), 7.5);
  EXPECT_EQ(passed.at("bytes"), 65536);
  EXPECT_EQ(passed.at("exit_code"), 0);
  EXPECT_EQ(passed.at("error"), "");
  EXPECT_EQ(passed.at("log"), "logs/usb-FTDI_A1-if00-port0.log");
  EXPECT_EQ(passed.at("attempt"), 41);
  EXPECT_EQ(passed.at("units"), json({{"serial", "1000"}, {"mac", "02:00:5E:10:00:00"}}));
  EXPECT_EQ(passed.at("unit_file"), "line3.db.units/41.bin");
  EXPECT_TRUE(boards[1].at("units").is_null());
  EXPECT_TRUE(boards[1].at("attempt").is_null());
  EXPECT_EQ(passed.at("result"), "passed");
}

TEST(StationReport, JsonUnknownFieldsAreNull) {
  Boards b;
  json boards = json::parse(json_report(kRun, b.all())).at("boards");
  const json& failed = boards[1];
  for (const char* field :
       {"by_id", "serial", "vid_pid", "identity", "log", "vexal_version", "bytes", "written", "read", "text_retries"})
    EXPECT_TRUE(failed.at(field).is_null()) << field;
  EXPECT_EQ(failed.at("exit_code"), 6);
  EXPECT_EQ(failed.at("reason"), "answer '!bad'");
  EXPECT_EQ(failed.at("result"), "failed");
  EXPECT_EQ(failed.at("error"), "Error: \"bad\" & <worse> \x01\xEF\xBF\xBD");  // a byte that isn't UTF-8: U+FFFD
  const json& skipped = boards[2];
  for (const char* field : {"start", "duration", "exit_code"}) EXPECT_TRUE(skipped.at(field).is_null()) << field;
  EXPECT_EQ(skipped.at("result"), "not started");
}

// Read while boards run, the report never calls a board passed or failed before its vexal ended, and
// the JUnit file holds only ended boards as test results.
TEST(StationReport, BoardsThatHaventEnded) {
  Board waiting, running;
  waiting.index = 1;
  running.index = 2;
  start_board(running, SteadyTime{}, "2026-12-08T05:08:37.000Z");
  running.phase = Phase::Loading;
  running.exit_code = 0;
  running.bytes = 4096;  // its end event came, its vexal not yet reaped
  json boards = json::parse(json_report(kRun, {&waiting, &running})).at("boards");
  EXPECT_EQ(boards[0].at("result"), "waiting");
  EXPECT_TRUE(boards[0].at("start").is_null());
  EXPECT_EQ(boards[1].at("result"), "running");
  EXPECT_EQ(boards[1].at("start"), "2026-12-08T05:08:37.000Z");
  for (const json& board : boards) {
    for (const char* field : {"end", "duration", "exit_code", "error", "reason", "bytes"})
      EXPECT_TRUE(board.at(field).is_null()) << field;
  }
  const std::string xml = junit_report(kRun, {&waiting, &running});
  EXPECT_NE(xml.find("failures=\"0\" errors=\"0\" skipped=\"2\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<skipped message=\"waiting: not started yet when this report was written\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<skipped message=\"running: not ended yet when this report was written\"/>"), std::string::npos);
}

TEST(StationReport, JsonKeysInTheirDocumentedOrder) {
  Boards b;
  const std::string text = json_report(kRun, b.all());
  std::size_t last = 0;
  for (const char* key :
       {"\"index\"",     "\"port\"",          "\"name\"",    "\"by_id\"", "\"serial\"",       "\"vid_pid\"",
        "\"identity\"",  "\"vexal_version\"", "\"job\"",     "\"files\"", "\"start\"",        "\"end\"",
        "\"duration\"",  "\"bytes\"",         "\"written\"", "\"read\"",  "\"text_retries\"", "\"block_retries\"",
        "\"exit_code\"", "\"error\"",         "\"reason\"",  "\"log\"",   "\"result\""}) {
    std::size_t at = text.find(key, text.find("\"boards\""));
    EXPECT_GT(at, last) << key;
    last = at;
  }
}

TEST(StationReport, JUnit) {
  Boards b;
  EXPECT_EQ(junit_report(kRun, b.all()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<testsuites>\n"
            "  <testsuite name=\"vexal-station\" tests=\"3\" failures=\"1\" errors=\"0\" skipped=\"1\" "
            "timestamp=\"2026-12-08T05:08:37.000Z\" time=\"9.500\">\n"
            "    <properties>\n"
            "      <property name=\"host\" value=\"bench-host\"/>\n"
            "      <property name=\"station\" value=\"line 3\"/>\n"
            "      <property name=\"operator\" value=\"\"/>\n"
            "      <property name=\"vexal-station\" value=\"0.95\"/>\n"
            "      <property name=\"job\" value=\"b115200 {name}.bin\"/>\n"
            "    </properties>\n"
            "    <testcase classname=\"vexal-station\" name=\"usb-FTDI_A1-if00-port0 (/dev/ttyUSB0)\" time=\"7.500\">\n"
            "      <system-out>identity: VQ-3140 ZARVEN v1.28\nserial: 1000\nmac: 02:00:5E:10:00:00\nattempt: 41\n"
            "unit file: line3.db.units/41.bin\nvexal: 0.96\nfile: command fw.s28 181234 bytes sha256 " +
                std::string(64, 'f') +
                "\nlog: logs/usb-FTDI_A1-if00-port0.log\n</system-out>\n"
                "    </testcase>\n"
                "    <testcase classname=\"vexal-station\" name=\"b&lt;2&gt; (/tmp/b&lt;2&gt;)\" time=\"0.250\">\n"
                "      <failure type=\"exit code 6\" message=\"exit code 6: Error: &quot;bad&quot; &amp; &lt;worse&gt; "
                "\xEF\xBF\xBD\xEF\xBF\xBD (answer &apos;!bad&apos;)\">exit code 6: Error: &quot;bad&quot; &amp; "
                "&lt;worse&gt; "
                "\xEF\xBF\xBD\xEF\xBF\xBD (answer &apos;!bad&apos;)</failure>\n"
                "    </testcase>\n"
                "    <testcase classname=\"vexal-station\" name=\"ttyUSB2 (/dev/ttyUSB2)\" time=\"0.000\">\n"
                "      <skipped message=\"not started: the station was stopped first\"/>\n"
                "    </testcase>\n"
                "  </testsuite>\n"
                "</testsuites>\n");
}

TEST(StationReport, XmlEscapes) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"plain", "plain"},
      {"<&>\"'", "&lt;&amp;&gt;&quot;&apos;"},
      {"tab\tline\ncr\r", "tab\tline\ncr\r"},
      {std::string("nul\0esc\x1b", 8),
       "nul\xEF\xBF\xBD"
       "esc\xEF\xBF\xBD"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},  // well-formed UTF-8 stays
      {"\xC3", "\xEF\xBF\xBD"},                                                          // cut short
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                          // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                          // a surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},          // above U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(xml_escaped(c.text), c.escaped) << c.text;
}

std::string contents(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(StationReport, FilesAreReplacedWhole) {
  const fs::path folder = fs::temp_directory_path() / ("station-report-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path file = folder / "r.json";
  std::string why;
  ASSERT_TRUE(write_file_atomically(file.string(), "first\n", why)) << why;
  ASSERT_TRUE(write_file_atomically(file.string(), "second\n", why)) << why;
  EXPECT_EQ(contents(file), "second\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);  // no temporary left

  EXPECT_FALSE(write_file_atomically((folder / "missing" / "r.json").string(), "x", why));
  EXPECT_NE(why.find("can't write"), std::string::npos);
  EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;
  fs::remove_all(folder);
}

// A target that isn't a regular file is refused, so nothing it leads to is written; a temporary name
// planted beside it is not used.
TEST(StationReport, TargetsThatAreNoRegularFiles) {
  const fs::path folder = fs::temp_directory_path() / ("station-targets-" + std::to_string(::getpid()));
  fs::create_directories(folder / "dir.json");
  { std::ofstream(folder / "outside") << "keep\n"; }
  fs::create_symlink(folder / "outside", folder / "link.json");
  ASSERT_EQ(::mkfifo((folder / "fifo.json").c_str(), 0600), 0);
  const struct {
    const char* name;
    const char* kind;
  } cases[] = {{"link.json", "a symbolic link"}, {"fifo.json", "a FIFO"}, {"dir.json", "a folder"}};
  for (const auto& c : cases) {
    const std::string target = (folder / c.name).string();
    EXPECT_NE(report_target_problem(target).find(std::string(" is ") + c.kind), std::string::npos) << c.name;
    std::string why;
    EXPECT_FALSE(write_file_atomically(target, "x", why)) << c.name;
    EXPECT_NE(why.find(c.kind), std::string::npos) << why;
  }
  EXPECT_EQ(report_target_problem("/dev/null").find("/dev/null is a device"), 0u);
  EXPECT_EQ(report_target_problem((folder / "new.json").string()), "");

  fs::create_symlink(folder / "outside", folder / "r.json.tmp");
  std::string why;
  ASSERT_TRUE(write_file_atomically((folder / "r.json").string(), "report\n", why)) << why;
  EXPECT_EQ(contents(folder / "r.json"), "report\n");
  EXPECT_EQ(contents(folder / "outside"), "keep\n");
  EXPECT_TRUE(fs::is_symlink(folder / "link.json"));
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vx::station
