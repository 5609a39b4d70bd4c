#include "frontends/station/board_runs.h"

#include <algorithm>
#include <optional>

#include "frontends/station/model/job.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr const char* kNoLog = "/dev/null";

}  // namespace

BoardRuns::BoardRuns(const StationSetup& setup, Display& display, RunRecord& record)
    : setup_(setup),
      display_(display),
      record_(record),
      boards_(job_to_run(setup.options.job, setup.options.identify), setup.options.logs_dir),
      pool_(job_capacity(setup.options.jobs)),
      quota_(setup.options.limit) {}

void BoardRuns::add(const PortInfo& port) {
  const std::size_t board_index = boards_.add(port, setup_.options.watch);
  if (stopping_)
    skip_board(boards_[board_index]);  // found by a listing that a Ctrl-C cut short
  else
    pool_.enqueue(board_index);
}

void BoardRuns::start_ready(SteadyTime now) {
  now_ = now;
  while (!stopping_ && quota_.allows_start(pool_.running())) {
    std::optional<std::size_t> board_index = pool_.next_to_start();
    if (!board_index) return;
    start_job(*board_index);
  }
}

// The board's unit values, taken and committed before its job starts; false when none can be (a pool
// ran out, the database can't give one): this board and every waiting one end as not started.
bool BoardRuns::take_units(std::size_t board_index) {
  if (setup_.units == nullptr) return true;
  Board& board = boards_[board_index];
  board.started_utc = utc_now();
  std::string why;
  const UnitKeeper::Begun begun = setup_.units->begin(board, why);
  if (begun == UnitKeeper::Begun::Ready) return true;
  const std::string stop = begun == UnitKeeper::Begun::Exhausted ? "the " + why + " pool ran out" : why;
  const std::string line = "vexal-station: " + stop + ": no new board starts";
  display_.error_line(line);
  display_.note(line);
  pool_.requeue_first(board_index);
  stop_starting(now_, stop);
  return false;
}

void BoardRuns::start_job(std::size_t board_index) {
  if (!take_units(board_index)) return;
  Board& board = boards_[board_index];
  std::vector<std::string> args{"--port", board.port.device};
  args.insert(args.end(), board.job.begin(), board.job.end());
  start_board(board, now_, utc_now());
  std::string why;
  const std::string log = board.log_path.empty() ? kNoLog : board.log_path;
  const JobPool::Started started = pool_.start(board_index, setup_.vexal, args, log, why);
  if (started == JobPool::Started::Unwatched) display_.note("vexal-station: " + why);
  if (started != JobPool::Started::Failed) return;
  fail_board(board, kNotRunCode, why, now_, utc_now());
  settle(board_index);
}

void BoardRuns::read_ready(SteadyTime now) {
  now_ = now;
  pool_.read_ready([this](std::size_t board_index, std::string_view line) { on_event_line(board_index, line); });
}

void BoardRuns::reap(SteadyTime now) {
  now_ = now;
  pool_.reap([this](std::size_t board_index, std::string_view line) { on_event_line(board_index, line); },
             [this](std::size_t board_index, int wait_status) { end_job(board_index, wait_status); });
}

void BoardRuns::on_event_line(std::size_t board_index, std::string_view line) {
  Board& board = boards_[board_index];
  std::optional<Event> event = parse_event(line);
  if (event && apply_event(board, *event, now_)) display_.changed(board, record_.since_start(now_));
}

void BoardRuns::end_job(std::size_t board_index, int wait_status) {
  finish_board(boards_[board_index], wait_status, now_, utc_now());
  settle(board_index);
}

// A board has ended: shown, its port's watch state moved on, the reports brought up to date.
void BoardRuns::settle(std::size_t board_index) {
  const Board& board = boards_[board_index];
  count_end(board);
  display_.changed(board, record_.since_start(now_));
  const std::optional<PortInfo> again = watch_ ? watch_->job_ended(board.port) : std::nullopt;
  if (again && !stopping_) add(*again);
  record_.board_ended();
}

// The board's record, and --limit's count.
void BoardRuns::count_end(const Board& board) {
  if (setup_.units) {
    const std::string why = setup_.units->end(board);
    if (!why.empty()) display_.note("vexal-station: " + why);
  }
  if (!quota_.board_ended(board.phase == Phase::Done, stopping_)) return;
  display_.note(formatted("vexal-station: %zu boards passed (--limit): no new board starts", quota_.passed()));
  stop_starting(now_, formatted("--limit %u reached", quota_.limit()));
}

void BoardRuns::stop_starting(SteadyTime now, const std::string& reason) {
  if (stopping_) return;
  now_ = now;
  stopping_ = true;
  if (watch_) watch_->stop_listing();  // a relist would find ports no job starts on
  for (std::size_t board_index : pool_.take_waiting()) {
    skip_board(boards_[board_index]);
    if (!reason.empty()) boards_[board_index].error = "not started: " + reason;
    display_.changed(boards_[board_index], record_.since_start(now_));
  }
  if (pool_.running() > 0 && reason.empty())
    display_.note(formatted("vexal-station: stopping; waiting for %zu running jobs (Ctrl-C again interrupts them)",
                            pool_.running()));
}

// Boards left waiting once --limit was reached are no failure: the run did what it was asked.
bool BoardRuns::all_passed() const {
  const std::vector<const Board*>& boards = boards_.all();
  return std::all_of(boards.begin(), boards.end(), [this](const Board* b) {
    return b->phase == Phase::Done || (quota_.reached() && b->phase == Phase::NotStarted);
  });
}

}  // namespace vx::station
