#include "frontends/station/views/tiles.h"

#include <algorithm>

#include "frontends/station/views/table.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;
constexpr int kTileAspect = 2;  // width : height of the tile that reads best

TileState state_of(const Board& board) {
  switch (board.phase) {
    case Phase::Done: return TileState::Passed;
    case Phase::Failed: return TileState::Failed;
    case Phase::Queued:
    case Phase::NotStarted: return TileState::Waiting;
    default: return TileState::Running;
  }
}

std::string running_phase(const Board& board) {
  std::string text = phase_name(board.phase);
  if (!board.file.empty()) text += " " + printable(last_component(board.file));
  return text;
}

std::string clock_text(double seconds) {
  const int whole = static_cast<int>(std::max(seconds, 0.0));
  if (whole >= kSecondsPerHour)
    return formatted("%d:%02d:%02d", whole / kSecondsPerHour, whole % kSecondsPerHour / kSecondsPerMinute,
                     whole % kSecondsPerMinute);
  return formatted("%d:%02d", whole / kSecondsPerMinute, whole % kSecondsPerMinute);
}

}  // namespace

TileView tile_view(const Board& board) {
  TileView view;
  view.state = state_of(board);
  view.name = printable(board.name);
  switch (view.state) {
    case TileState::Waiting: view.phase = board.phase == Phase::Queued ? "waiting" : "not started"; break;
    case TileState::Running:
      view.phase = running_phase(board);
      view.percent = phase_percent(board);
      break;
    case TileState::Passed: view.result = "PASS"; break;
    case TileState::Failed:
      view.result = "FAIL";
      view.reason = printable(result_text(board));
      break;
  }
  return view;
}

std::string tile_text(const TileView& view) {
  std::string text = view.name;
  for (const std::string* line : {&view.phase, &view.result, &view.reason}) {
    if (!line->empty()) text += "\n" + *line;
  }
  if (view.percent >= 0) text += formatted("\n%d %%", view.percent);
  return text;
}

TileCounts count_tiles(const std::vector<const Board*>& boards) {
  TileCounts counts;
  for (const Board* board : boards) {
    switch (state_of(*board)) {
      case TileState::Passed: ++counts.passed; break;
      case TileState::Failed: ++counts.failed; break;
      case TileState::Running: ++counts.running; break;
      case TileState::Waiting: ++counts.waiting; break;
    }
  }
  return counts;
}

std::string header_text(const std::string& job, const TileCounts& counts, double seconds) {
  std::string text = printable(job);
  text += formatted("%s%d passed   %d failed   %d running", text.empty() ? "" : "   ", counts.passed, counts.failed,
                    counts.running);
  if (counts.waiting > 0) text += formatted("   %d waiting", counts.waiting);
  return text + "   " + clock_text(seconds);
}

Grid grid_for(std::size_t tiles, int width, int height) {
  const int count = static_cast<int>(std::max<std::size_t>(tiles, 1));
  Grid best;
  int best_size = -1;
  for (int columns = 1; columns <= count; ++columns) {
    const int rows = (count + columns - 1) / columns;
    const int size = std::min(height / rows, width / columns / kTileAspect);
    if (size > best_size) {
      best_size = size;
      best = Grid{columns, rows};
    }
  }
  return best;
}

}  // namespace vx::station
