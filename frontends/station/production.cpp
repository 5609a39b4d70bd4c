#include "frontends/station/production.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include "frontends/station/os/store.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr const char* kProductionOption = "--production";
constexpr const char* kJobKey = "job";
constexpr const char* kDbSuffix = ".db";
constexpr const char* kUnitsSuffix = ".units";
constexpr const char* kServerUnitsDir = "vexal-station.units";  // a server's database has no folder
// The options whose value is a file of the station's, found from the production file's folder.
const std::set<std::string> kFileOptions{"key", "db", "logs", "report", "junit"};

// The file's folder joined to a relative `path` (a server's URL stays as it is).
std::string from_folder(const std::filesystem::path& folder, const std::string& path) {
  if (is_server_url(path) || std::filesystem::path(path).is_absolute()) return path;
  return (folder / path).lexically_normal().string();
}

// One key's value as the option's arguments; false when its kind doesn't suit an option.
bool option_arguments(const std::string& key, const toml::node& value, const std::filesystem::path& folder,
                      std::vector<std::string>& out) {
  const std::string option = "--" + key;
  bool takes_value = false;
  is_option(key, &takes_value);
  auto flag = value.value_exact<bool>();
  if (flag || !takes_value) {
    if (flag && *flag) out.push_back(option);
    return flag.has_value();
  }
  if (auto number = value.value_exact<std::int64_t>()) {
    out.insert(out.end(), {option, std::to_string(*number)});
    return true;
  }
  if (auto text = value.value_exact<std::string>()) {
    out.insert(out.end(), {option, kFileOptions.count(key) ? from_folder(folder, *text) : *text});
    return true;
  }
  const toml::array* items = value.as_array();
  if (items == nullptr) return false;
  for (const toml::node& item : *items) {
    auto text = item.value_exact<std::string>();
    if (!text) return false;
    out.insert(out.end(), {option, *text});
  }
  return true;
}

bool job_arguments(const toml::node& value, std::vector<std::string>& job) {
  const toml::array* items = value.as_array();
  if (items == nullptr) return false;
  for (const toml::node& item : *items) {
    auto text = item.value_exact<std::string>();
    if (!text) return false;
    job.push_back(*text);
  }
  return true;
}

std::string read_whole(const std::string& path, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in) why = "can't read " + path + ": " + std::strerror(errno);
  return text.str();
}

bool read_production(const std::string& file, std::vector<std::string>& options, std::vector<std::string>& job,
                     std::string& why) {
  const std::string text = read_whole(file, why);
  if (!why.empty()) return false;
  toml::table table;
  try {
    table = toml::parse(text, file);
  } catch (const toml::parse_error& error) {
    why = formatted("%s line %u: ", file.c_str(), static_cast<unsigned>(error.source().begin.line)) +
          std::string(error.description());
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  bool has_db = false;
  for (const auto& [key, value] : table) {
    const std::string name(key.str());
    has_db = has_db || name == "db";
    const bool taken = name == kJobKey                            ? job_arguments(value, job)
                       : name == "production" || !is_option(name) ? false
                                                                  : option_arguments(name, value, folder, options);
    if (!taken) {
      why = file + ": " +
            (name == kJobKey || is_option(name) ? "the value of " + name + " is of the wrong kind"
                                                : "unknown key " + name);
      return false;
    }
  }
  if (!has_db) {
    const std::filesystem::path db = std::filesystem::path(file).replace_extension(kDbSuffix);
    options.insert(options.end(), {"--db", db.string()});
  }
  return true;
}

}  // namespace

bool expand_production(const std::vector<std::string>& args, std::vector<std::string>& out, std::string& why) {
  std::vector<std::string> given, given_job, file_options, file_job;
  bool after_dashes = false, job_given = false;
  std::string production;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (after_dashes) {
      given_job.push_back(arg);
    } else if (arg == "--") {
      after_dashes = job_given = true;
    } else if (arg == kProductionOption || arg.rfind(std::string(kProductionOption) + "=", 0) == 0) {
      if (arg == kProductionOption && i + 1 >= args.size()) {
        why = "--production needs a file";
        return false;
      }
      production = arg == kProductionOption ? args[++i] : arg.substr(std::string(kProductionOption).size() + 1);
    } else {
      given.push_back(arg);
    }
  }
  if (!production.empty() && !read_production(production, file_options, file_job, why)) return false;
  out = file_options;
  out.insert(out.end(), given.begin(), given.end());
  const std::vector<std::string>& job = job_given ? given_job : file_job;
  if (job_given || !file_job.empty()) out.push_back("--");
  out.insert(out.end(), job.begin(), job.end());
  return true;
}

namespace {

bool load_list(const std::string& declaration, PoolSpec& out, std::string& why) {
  const std::size_t colon = declaration.rfind(':');
  const std::string file = colon == std::string::npos ? declaration : declaration.substr(0, colon);
  const std::string column = colon == std::string::npos ? std::string() : declaration.substr(colon + 1);
  const std::string text = read_whole(file, why);
  return why.empty() && parse_list(text, file, column, out, why);
}

bool load_pools(const Options& options, std::vector<PoolSpec>& pools, std::string& why) {
  PoolSpec pool;
  if (!options.serial.empty()) {
    if (!parse_counter(options.serial, pool, why)) return false;
    pools.push_back(pool);
  }
  if (!options.mac.empty()) {
    if (!parse_address_range(options.mac, pool, why)) return false;
    pools.push_back(pool);
  }
  if (!options.key.empty()) {
    if (!load_list(options.key, pool, why)) return false;
    pools.push_back(pool);
  }
  return true;
}

std::string units_dir_for(const std::string& db) {
  return is_server_url(db) ? std::string(kServerUnitsDir) : db + kUnitsSuffix;
}

}  // namespace

bool load_unit_setup(const Options& options, UnitSetup& out, std::string& why) {
  UnitSetup setup;
  if (!load_pools(options, setup.pools, why)) return false;
  if (!options.layout.empty() && !parse_layout(options.layout, setup.layout, why)) return false;
  fit_pools_to_layout(setup.pools, setup.layout);
  why = layout_problem(setup.layout, setup.pools);
  if (why.empty()) why = unit_placeholder_problem(options.job, setup.pools, setup.layout);
  if (!why.empty()) return false;
  const bool keeps_record = !setup.pools.empty() || !options.db.empty();
  setup.db = keeps_record ? (options.db.empty() ? std::string(kDefaultDatabase) : options.db) : std::string();
  setup.units_dir = setup.db.empty() ? std::string() : units_dir_for(setup.db);
  out = std::move(setup);
  return true;
}

}  // namespace vx::station
