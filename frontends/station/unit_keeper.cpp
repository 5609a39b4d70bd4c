#include "frontends/station/unit_keeper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

using json = nlohmann::ordered_json;

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;
constexpr const char* kJournalName = "journal.jsonl";
constexpr const char* kUnitFileSuffix = ".bin";

json count_json(const Count& count) { return count ? json(*count) : json(nullptr); }
Count json_count(const json& value) { return value.is_number_integer() ? Count(value.get<std::int64_t>()) : Count(); }

std::string files_json(const Board& board) {
  json files = json::array();
  for (const JobFile& file : board.files)
    files.push_back(
        {{"role", file.role}, {"path", file.path}, {"size", count_json(file.size)}, {"sha256", file.sha256}});
  return files.dump(-1, ' ', false, json::error_handler_t::replace);
}

json journal_line(const AttemptEnd& end) {
  return json{{"id", end.id},
              {"ended", end.ended_utc},
              {"phase", end.phase},
              {"result", end.result},
              {"exit_code", end.exit_code},
              {"error", end.error},
              {"reason", end.reason},
              {"bytes", count_json(end.bytes)},
              {"text_retries", count_json(end.text_retries)},
              {"block_retries", count_json(end.block_retries)},
              {"vexal_version", end.vexal_version},
              {"identity", end.identity},
              {"files", end.files},
              {"unit_file", end.unit_file}};
}

std::optional<AttemptEnd> from_journal_line(const std::string& line) {
  json o = json::parse(line, nullptr, false);
  if (!o.is_object() || !o.contains("id")) return std::nullopt;
  AttemptEnd end;
  end.id = o.value("id", std::int64_t{0});
  end.ended_utc = o.value("ended", "");
  end.phase = o.value("phase", "");
  end.result = o.value("result", "");
  end.exit_code = o.value("exit_code", 0);
  end.error = o.value("error", "");
  end.reason = o.value("reason", "");
  end.bytes = json_count(o.value("bytes", json()));
  end.text_retries = json_count(o.value("text_retries", json()));
  end.block_retries = json_count(o.value("block_retries", json()));
  end.vexal_version = o.value("vexal_version", "");
  end.identity = o.value("identity", "");
  end.files = o.value("files", "");
  end.unit_file = o.value("unit_file", "");
  return end;
}

// Makes `folder` (and its parents) for the station alone; false with the reason.
bool make_private_folder(const std::string& folder, std::string& why) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    why = "can't make the folder " + folder + (error ? ": " + error.message() : ": not a folder");
    return false;
  }
  if ((info.st_mode & 0777) != kPrivateFolder && ::chmod(folder.c_str(), kPrivateFolder) != 0) {
    why = "can't keep the folder " + folder + " private: " + std::strerror(errno);
    return false;
  }
  return true;
}

// A file of the station's alone, new (nothing planted at `path` is written through).
bool write_new_file(const std::string& path, const std::string& bytes, std::string& why) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
  bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (fd >= 0 && ::close(fd) != 0) written = false;
  if (!written) why = "can't write " + path + ": " + std::strerror(errno);
  return written;
}

}  // namespace

AttemptEnd attempt_end(const Board& board) {
  AttemptEnd end;
  end.id = board.attempt;
  end.ended_utc = board.ended_utc;
  end.phase = phase_name(board.reached);
  end.result = board_result(board);
  end.exit_code = board.exit_code;
  end.error = board.error;
  end.reason = board.reason;
  end.bytes = board.bytes;
  end.text_retries = board.text_retries;
  end.block_retries = board.block_retries;
  end.vexal_version = board.vexal_version;
  end.identity = board.identity;
  end.files = files_json(board);
  end.unit_file = board.unit_file;
  return end;
}

std::string UnitKeeper::journal_path() const {
  return (std::filesystem::path(setup_.units_dir) / kJournalName).string();
}

bool UnitKeeper::open(std::string& why) {
  if (!make_private_folder(setup_.units_dir, why)) return false;
  std::ifstream in(journal_path());
  if (!in) return true;  // no journal: every record reached the database
  std::string line;
  while (std::getline(in, line)) {
    std::optional<AttemptEnd> end = from_journal_line(line);
    if (end && !store_.record_end(*end, why)) return false;
  }
  std::error_code error;
  std::filesystem::remove(journal_path(), error);
  if (error) why = "can't remove the journal " + journal_path() + " once replayed: " + error.message();
  return !error;
}

namespace {

// Adds the time from its making to its end to `total`.
class Stopwatch {
 public:
  explicit Stopwatch(std::chrono::steady_clock::duration& total) : total_(total) {}
  ~Stopwatch() { total_ += std::chrono::steady_clock::now() - start_; }
  Stopwatch(const Stopwatch&) = delete;
  Stopwatch& operator=(const Stopwatch&) = delete;

 private:
  std::chrono::steady_clock::duration& total_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

UnitKeeper::Begun UnitKeeper::begin(Board& board, std::string& why) {
  const Stopwatch timed(spent_);
  why = store_.lost();
  if (!why.empty()) return Begun::Failed;
  if (journaled_) {
    why = "a record waits in the journal " + journal_path() + " for the database";
    return Begun::Failed;
  }
  AttemptStart start{who_.station,      who_.operator_name, who_.host,         static_cast<long>(::getpid()),
                     board.port.device, board.port.by_id,   board.port.serial, job_line_,
                     board.started_utc};
  Taken taken = store_.take(start, setup_.pools);
  if (taken.outcome != Taken::Outcome::Taken) {
    why = taken.why;
    return taken.outcome == Taken::Outcome::Exhausted ? Begun::Exhausted : Begun::Failed;
  }
  board.attempt = taken.attempt;
  for (std::size_t i = 0; i < taken.values.size(); ++i)
    board.units.emplace_back(setup_.pools[i].name, shown_value(setup_.pools[i], taken.values[i]));
  UnitContext unit{&setup_.pools, &setup_.layout, taken.values, {}};
  if (!setup_.layout.empty()) {
    board.unit_file =
        (std::filesystem::path(setup_.units_dir) / (std::to_string(board.attempt) + kUnitFileSuffix)).string();
    const std::vector<std::uint8_t> bytes = unit_bytes(setup_.layout, taken.values);
    if (!write_new_file(board.unit_file, std::string(bytes.begin(), bytes.end()), why)) return Begun::Failed;
    unit.unit_file = board.unit_file;
  }
  board.job = replace_unit_placeholders(board.job, unit);
  return Begun::Ready;
}

bool UnitKeeper::journal(const AttemptEnd& end, std::string& why) {
  journaled_ = true;
  int fd = ::open(journal_path().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
  const std::string line = journal_line(end).dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  bool written =
      fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
  if (fd >= 0 && ::close(fd) != 0) written = false;
  if (!written) why += "; nor could it go to the journal " + journal_path() + ": " + std::strerror(errno);
  return written;
}

std::string UnitKeeper::end(const Board& board) {
  if (board.attempt == 0) return {};
  const Stopwatch timed(spent_);
  const AttemptEnd end = attempt_end(board);
  std::string why = store_.lost();  // a removed file would take the record and lose it with itself
  if (why.empty() && store_.record_end(end, why)) return {};
  if (journal(end, why)) why += "; kept in the journal " + journal_path() + " until a station opens the database";
  return why;
}

}  // namespace vx::station
