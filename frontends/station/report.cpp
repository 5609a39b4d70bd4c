#include "frontends/station/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "frontends/station/text.h"

namespace vx::station {

namespace {

using json = nlohmann::ordered_json;  // keys in the order written: a person reads the report too

constexpr int kJsonIndent = 2;

json known_or_null(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

const char* result_name(const Board& board) {
  switch (board.phase) {
    case Phase::Done: return "passed";
    case Phase::NotStarted: return "not started";
    default: return "failed";
  }
}

json board_entry(const Board& board) {
  const bool started = board.phase != Phase::NotStarted;
  return json{{"index", board.index},
              {"port", board.port.device},
              {"name", board.name},
              {"by_id", known_or_null(board.port.by_id)},
              {"serial", known_or_null(board.port.serial)},
              {"vid_pid", known_or_null(board.port.vid_pid)},
              {"identity", known_or_null(board.identity)},
              {"job", board.job},
              {"start", started ? json(board.started_utc) : json(nullptr)},
              {"duration", started ? json(board.seconds) : json(nullptr)},
              {"bytes", board.bytes},
              {"exit_code", started ? json(board.exit_code) : json(nullptr)},
              {"error", board.error},
              {"log", known_or_null(board.log_path)},
              {"result", result_name(board)}};
}

int count_of(const std::vector<const Board*>& boards, Phase phase) {
  int count = 0;
  for (const Board* board : boards) count += board->phase == phase ? 1 : 0;
  return count;
}

// A character XML 1.0 refuses: the control characters but tab, line feed and carriage return.
bool refused_by_xml(unsigned char c) {
  return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

std::string testcase(const Board& board) {
  std::string xml = formatted("    <testcase classname=\"vexal-station\" name=\"%s (%s)\" time=\"%.3f\"",
                              xml_escaped(board.name).c_str(), xml_escaped(board.port.device).c_str(), board.seconds);
  std::string body;
  if (board.phase == Phase::Failed) {
    std::string message = formatted("exit code %d: %s", board.exit_code, board.error.c_str());
    body += formatted("      <failure type=\"exit code %d\" message=\"%s\">%s</failure>\n", board.exit_code,
                      xml_escaped(message).c_str(), xml_escaped(message).c_str());
  } else if (board.phase == Phase::NotStarted) {
    body += "      <skipped message=\"not started: the station was stopped first\"/>\n";
  }
  if (!board.log_path.empty()) body += "      <system-out>log: " + xml_escaped(board.log_path) + "</system-out>\n";
  return body.empty() ? xml + "/>\n" : xml + ">\n" + body + "    </testcase>\n";
}

}  // namespace

std::string json_report(const RunSummary& run, const std::vector<const Board*>& boards) {
  json entries = json::array();
  for (const Board* board : boards) entries.push_back(board_entry(*board));
  json report{{"station",
               {{"version", run.version},
                {"job", run.job},
                {"started", run.started_utc},
                {"seconds", run.seconds},
                {"cpu_seconds", run.cpu_seconds},
                {"passed", count_of(boards, Phase::Done)},
                {"failed", count_of(boards, Phase::Failed)},
                {"not_started", count_of(boards, Phase::NotStarted)}}},
              {"boards", entries}};
  return report.dump(kJsonIndent, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string xml_escaped(const std::string& text) {
  std::string escaped;
  for (char c : utf8_repaired(text)) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default:
        escaped +=
            refused_by_xml(static_cast<unsigned char>(c)) ? std::string(kUnicodeReplacement) : std::string(1, c);
    }
  }
  return escaped;
}

std::string junit_report(const RunSummary& run, const std::vector<const Board*>& boards) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
  xml += formatted(
      "  <testsuite name=\"vexal-station\" tests=\"%zu\" failures=\"%d\" errors=\"0\" skipped=\"%d\" "
      "timestamp=\"%s\" time=\"%.3f\">\n",
      boards.size(), count_of(boards, Phase::Failed), count_of(boards, Phase::NotStarted),
      xml_escaped(run.started_utc).c_str(), run.seconds);
  for (const Board* board : boards) xml += testcase(*board);
  return xml + "  </testsuite>\n</testsuites>\n";
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& why) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr && std::fclose(file) != 0) written = false;
  if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  why = "can't write " + path + ": " + std::strerror(errno);
  if (file != nullptr) std::remove(temporary.c_str());
  return false;
}

}  // namespace vx::station
