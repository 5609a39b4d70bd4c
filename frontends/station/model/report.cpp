#include "frontends/station/model/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

using json = nlohmann::ordered_json;  // keys in the order written: a person reads the report too

constexpr int kJsonIndent = 2;

json known_or_null(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json count_or_null(const Count& count) { return count ? json(*count) : json(nullptr); }

bool ended(const Board& board) { return board.phase == Phase::Done || board.phase == Phase::Failed; }

json file_entries(const Board& board) {
  json files = json::array();
  for (const JobFile& file : board.files)
    files.push_back({{"role", file.role},
                     {"path", file.path},
                     {"size", count_or_null(file.size)},
                     {"sha256", known_or_null(file.sha256)}});
  return files;
}

// Known once the board ended: its end, run time, exit code, error line and reason.
json end_field(const Board& board, const json& value) { return ended(board) ? value : json(nullptr); }

// {"serial": "1000", "mac": "02:00:5E:10:00:00"}, null for a board given none.
json unit_entries(const Board& board) {
  if (board.units.empty()) return nullptr;
  json units = json::object();
  for (const auto& [pool, value] : board.units) units[pool] = value;
  return units;
}

json board_entry(const Board& board) {
  const bool started = board.phase != Phase::Queued && board.phase != Phase::NotStarted;
  return json{{"index", board.index},
              {"port", board.port.device},
              {"name", board.name},
              {"by_id", known_or_null(board.port.by_id)},
              {"serial", known_or_null(board.port.serial)},
              {"vid_pid", known_or_null(board.port.vid_pid)},
              {"identity", known_or_null(board.identity)},
              {"vexal_version", known_or_null(board.vexal_version)},
              {"job", board.job},
              {"files", file_entries(board)},
              {"start", started ? json(board.started_utc) : json(nullptr)},
              {"end", end_field(board, board.ended_utc)},
              {"duration", end_field(board, board.seconds)},
              {"bytes", end_field(board, count_or_null(board.bytes))},
              {"written", count_or_null(board.written)},
              {"read", count_or_null(board.read)},
              {"text_retries", count_or_null(board.text_retries)},
              {"block_retries", count_or_null(board.block_retries)},
              {"exit_code", end_field(board, board.exit_code)},
              {"error", end_field(board, board.error)},
              {"reason", end_field(board, known_or_null(board.reason))},
              {"log", known_or_null(board.log_path)},
              {"attempt", board.attempt != 0 ? json(board.attempt) : json(nullptr)},
              {"units", unit_entries(board)},
              {"unit_file", known_or_null(board.unit_file)},
              {"result", board_result(board)}};
}

int count_of(const std::vector<const Board*>& boards, Phase phase) {
  int count = 0;
  for (const Board* board : boards) count += board->phase == phase ? 1 : 0;
  return count;
}

int ended_count(const std::vector<const Board*>& boards) {
  return count_of(boards, Phase::Done) + count_of(boards, Phase::Failed);
}

// A character XML 1.0 refuses: the control characters but tab, line feed and carriage return.
bool refused_by_xml(unsigned char c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

// "exit code 4: Error: Block refused. (block 3 refused after 8 attempts)"
std::string failure_text(const Board& board) {
  return formatted("exit code %d: ", board.exit_code) + failure_words(board);
}

std::string skipped_text(const Board& board) {
  switch (board.phase) {
    case Phase::NotStarted: return "not started: the station was stopped first";
    case Phase::Queued: return "waiting: not started yet when this report was written";
    default: return "running: not ended yet when this report was written";
  }
}

// What a person tracing the board wants beside its result: who it is, what went into it, where its log is.
std::string testcase_output(const Board& board) {
  std::string out;
  if (!board.identity.empty()) out += "identity: " + board.identity + "\n";
  for (const auto& [pool, value] : board.units) out += pool + ": " + value + "\n";
  if (board.attempt != 0) out += formatted("attempt: %lld\n", static_cast<long long>(board.attempt));
  if (!board.unit_file.empty()) out += "unit file: " + board.unit_file + "\n";
  if (!board.vexal_version.empty()) out += "vexal: " + board.vexal_version + "\n";
  for (const JobFile& file : board.files)
    out += "file: " + file.role + " " + file.path +
           (file.size ? formatted(" %lld bytes sha256 ", static_cast<long long>(*file.size)) + file.sha256 : "") + "\n";
  if (!board.log_path.empty()) out += "log: " + board.log_path + "\n";
  return out;
}

std::string testcase(const Board& board) {
  std::string xml = formatted("    <testcase classname=\"vexal-station\" name=\"%s (%s)\" time=\"%.3f\"",
                              xml_escaped(board.name).c_str(), xml_escaped(board.port.device).c_str(),
                              ended(board) ? board.seconds : 0.0);
  std::string body;
  if (board.phase == Phase::Failed) {
    const std::string message = xml_escaped(failure_text(board));
    body += formatted("      <failure type=\"exit code %d\" message=\"%s\">%s</failure>\n", board.exit_code,
                      message.c_str(), message.c_str());
  } else if (!ended(board)) {
    body += "      <skipped message=\"" + xml_escaped(skipped_text(board)) + "\"/>\n";
  }
  const std::string output = testcase_output(board);
  if (!output.empty()) body += "      <system-out>" + xml_escaped(output) + "</system-out>\n";
  return body.empty() ? xml + "/>\n" : xml + ">\n" + body + "    </testcase>\n";
}

std::string property(const char* name, const std::string& value) {
  return formatted("      <property name=\"%s\" value=\"%s\"/>\n", name, xml_escaped(value).c_str());
}

std::string run_properties(const RunSummary& run) {
  std::string job;
  for (const std::string& argument : run.job) job += (job.empty() ? "" : " ") + argument;
  return "    <properties>\n" + property("host", run.host) + property("station", run.station) +
         property("operator", run.operator_name) + property("vexal-station", run.version) + property("job", job) +
         "    </properties>\n";
}

}  // namespace

std::string json_report(const RunSummary& run, const std::vector<const Board*>& boards) {
  json entries = json::array();
  for (const Board* board : boards) entries.push_back(board_entry(*board));
  int running = 0;
  for (const Board* board : boards) running += board->running() ? 1 : 0;
  json report{{"station",
               {{"version", run.version},
                {"host", known_or_null(run.host)},
                {"station", known_or_null(run.station)},
                {"operator", known_or_null(run.operator_name)},
                {"job", run.job},
                {"identify", run.identify},
                {"started", run.started_utc},
                {"ended", known_or_null(run.ended_utc)},
                {"seconds", run.seconds},
                {"cpu_seconds", run.cpu_seconds},
                {"database_seconds", run.database_seconds ? json(*run.database_seconds) : json(nullptr)},
                {"passed", count_of(boards, Phase::Done)},
                {"failed", count_of(boards, Phase::Failed)},
                {"not_started", count_of(boards, Phase::NotStarted)},
                {"running", running},
                {"waiting", count_of(boards, Phase::Queued)}}},
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
        escaped += refused_by_xml(static_cast<unsigned char>(c)) ? std::string(kUnicodeReplacement) : std::string(1, c);
    }
  }
  return escaped;
}

std::string junit_report(const RunSummary& run, const std::vector<const Board*>& boards) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
  xml += formatted(
      "  <testsuite name=\"vexal-station\" tests=\"%zu\" failures=\"%d\" errors=\"0\" skipped=\"%d\" "
      "timestamp=\"%s\" time=\"%.3f\">\n",
      boards.size(), count_of(boards, Phase::Failed), static_cast<int>(boards.size()) - ended_count(boards),
      xml_escaped(run.started_utc).c_str(), run.seconds);
  xml += run_properties(run);
  for (const Board* board : boards) xml += testcase(*board);
  return xml + "  </testsuite>\n</testsuites>\n";
}

namespace {

// What lstat says of an existing `path` that isn't a regular file; "" for a regular file or none.
std::string not_regular(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return {};
  const char* kind = S_ISLNK(info.st_mode)                            ? "a symbolic link"
                     : S_ISFIFO(info.st_mode)                         ? "a FIFO"
                     : S_ISDIR(info.st_mode)                          ? "a folder"
                     : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                                                                      : "not a regular file";
  return path + " is " + kind +
         ": a report is replaced whole at every update, so it goes to a regular file or a new one";
}

std::string folder_of(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// The permissions a file made by open(..., 0666) would have: the report is for others to read.
mode_t usual_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool write_all(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t got = ::write(fd, text.data() + written, text.size() - written);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    written += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

std::string report_target_problem(const std::string& path) {
  std::string problem = not_regular(path);
  if (!problem.empty()) return problem;
  if (::access(folder_of(path).c_str(), W_OK) != 0) return "can't write " + path + ": " + std::strerror(errno);
  return {};
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& why) {
  why = not_regular(path);
  if (!why.empty()) return false;
  std::string temporary =
      (std::filesystem::path(folder_of(path)) / ("." + std::filesystem::path(path).filename().string() + ".XXXXXX"))
          .string();
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  bool written = fd >= 0 && ::fchmod(fd, usual_file_mode()) == 0 && write_all(fd, text);
  if (fd >= 0 && ::close(fd) != 0) written = false;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  why = "can't write " + path + ": " + std::strerror(errno);
  if (fd >= 0) ::unlink(temporary.c_str());
  return false;
}

}  // namespace vx::station
