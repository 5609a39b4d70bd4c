#include "frontends/station/history.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "frontends/station/options.h"
#include "frontends/station/os/store.h"
#include "frontends/station/production.h"

namespace vx::station {

namespace {

constexpr int kUnreadable = 1;

struct HistoryOptions {
  std::string db;
  HistoryQuery query;
  bool csv = false;
};

// The time as the records hold it: "2026-12-09 10:00" is "2026-12-09T10:00".
std::string record_time(std::string text) {
  std::replace(text.begin(), text.end(), ' ', 'T');
  return text;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The database of a production file, as the station would take it.
std::string production_db(const std::string& file, std::string& why) {
  std::vector<std::string> expanded;
  Options options;
  if (!expand_production({"--production", file}, expanded, why)) return {};
  auto it = std::find(expanded.begin(), expanded.end(), "--db");
  return it != expanded.end() && it + 1 != expanded.end() ? *(it + 1) : std::string(kDefaultDatabase);
}

std::string parse_history(const std::vector<std::string>& args, HistoryOptions& out) {
  const std::map<std::string, std::string*> texts{
      {"--db", &out.db},           {"--serial", &out.query.serial}, {"--mac", &out.query.mac},
      {"--port", &out.query.port}, {"--since", &out.query.since},   {"--until", &out.query.until}};
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--failed" || args[i] == "--csv") {
      (args[i] == "--csv" ? out.csv : out.query.failed_only) = true;
      continue;
    }
    const bool production = args[i] == "--production";
    auto it = texts.find(args[i]);
    if (it == texts.end() && !production) return "history: unknown option " + args[i];
    if (i + 1 >= args.size() || args[i + 1].empty()) return "history: " + args[i] + " needs a value";
    std::string why;
    if (production)
      out.db = production_db(args[++i], why);
    else
      *it->second = args[++i];
    if (!why.empty()) return why;
  }
  if (out.db.empty()) out.db = kDefaultDatabase;
  out.query.mac = upper(out.query.mac);
  out.query.since = record_time(out.query.since);
  out.query.until = record_time(out.query.until);
  return {};
}

}  // namespace

int run_history(const std::vector<std::string>& args, std::FILE* out) {
  HistoryOptions options;
  std::string why = parse_history(args, options);
  if (!why.empty()) {
    std::fprintf(stderr, "vexal-station: %s\n", why.c_str());
    return kUsageStatus;
  }
  if (!is_server_url(options.db) && !std::filesystem::exists(options.db)) {
    std::fprintf(stderr, "vexal-station: no database %s (--db names it)\n", options.db.c_str());
    return kUnreadable;
  }
  std::unique_ptr<UnitStore> store = open_store(options.db, why);
  HistoryTable table;
  if (!store || !store->prepare({}, {}, why) || !store->history(options.query, table, why)) {
    std::fprintf(stderr, "vexal-station: %s\n", why.c_str());
    return kUnreadable;
  }
  const std::string text = options.csv ? history_csv(table) : history_text(table);
  std::fputs(text.c_str(), out);
  return 0;
}

}  // namespace vx::station
