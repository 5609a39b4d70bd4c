#include "frontends/station/os/store.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "frontends/station/os/store_sql.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr const char* kServerSchemes[] = {"postgresql://", "postgres://"};
constexpr std::size_t kColumnGap = 2;
// The history as text shows what a person looks for first, each cell at most kWidestTextCell wide;
// --csv has every column whole.
constexpr const char* kTextColumns[] = {"attempt", "started", "station", "port",      "serial",
                                        "mac",     "key",     "result",  "exit_code", "error"};
constexpr std::size_t kWidestTextCell = 40;

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string csv_line(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + csv_field(cells[i]);
  return line + "\r\n";
}

}  // namespace

bool station_gone(long pid) {
  return pid == static_cast<long>(::getpid()) || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

bool is_server_url(const std::string& target) {
  return std::any_of(std::begin(kServerSchemes), std::end(kServerSchemes),
                     [&](const char* scheme) { return target.rfind(scheme, 0) == 0; });
}

std::unique_ptr<UnitStore> open_store(const std::string& target, std::string& why) {
  return is_server_url(target) ? open_pg_store(target, why) : open_sqlite_store(target, why);
}

std::string history_csv(const HistoryTable& table) {
  std::string csv = csv_line(table.columns);
  for (const std::vector<std::string>& row : table.rows) csv += csv_line(row);
  return csv;
}

std::string history_text(const HistoryTable& table) {
  std::vector<std::size_t> shown;  // the positions of kTextColumns in the table
  for (const char* name : kTextColumns) {
    auto it = std::find(table.columns.begin(), table.columns.end(), name);
    if (it != table.columns.end()) shown.push_back(static_cast<std::size_t>(it - table.columns.begin()));
  }
  auto cell = [](const std::string& text) { return middle_shortened(printable(text), kWidestTextCell); };
  std::vector<std::size_t> widths;
  for (std::size_t c : shown) widths.push_back(table.columns[c].size());
  for (const std::vector<std::string>& row : table.rows)
    for (std::size_t i = 0; i < shown.size(); ++i) widths[i] = std::max(widths[i], cell(row[shown[i]]).size());
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t i = 0; i < shown.size(); ++i) text += fitted(cell(cells[shown[i]]), widths[i] + kColumnGap);
    return text.substr(0, text.find_last_not_of(' ') + 1) + "\n";
  };
  std::string text = line(table.columns);
  for (const std::vector<std::string>& row : table.rows) text += line(row);
  return text;
}

}  // namespace vx::station
