#include "frontends/station/views/table.h"

#include <algorithm>
#include <array>
#include <map>

#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr std::size_t kPortCap = 32;
constexpr std::size_t kPortMin = 20;  // a by-id name shortened to this still shows its serial's end
constexpr std::size_t kIdentityCap = 24;
constexpr std::size_t kPhaseCap = 26;
constexpr std::size_t kPhaseMin = 11;   // "not started", "verifying"
constexpr std::size_t kResultMin = 24;  // the result always keeps this much: the exit code and error line
constexpr std::size_t kIndexWidth = 3, kPercentWidth = 5, kRateWidth = 10, kTimeWidth = 7;
constexpr std::size_t kGap = 2;
constexpr double kKilo = 1000.0;

std::string phase_text(const Board& board) {
  std::string text = phase_name(board.phase);
  if (!board.finished() && !board.file.empty()) text += " " + printable(last_component(board.file));
  return text;
}

std::string percent_text(const Board& board) {
  int percent = board.finished() ? -1 : phase_percent(board);
  return percent < 0 ? std::string() : formatted("%d %%", percent);
}

std::string rate_text(const Board& board, SteadyTime now) {
  double rate = board.finished()
                    ? (board.seconds > 0 ? static_cast<double>(board.bytes.value_or(0)) / board.seconds : 0)
                    : phase_rate(board, now);
  return rate > 0 ? format_rate(rate) : std::string();
}

std::string time_text(const Board& board, SteadyTime now) {
  if (board.phase == Phase::Queued || board.phase == Phase::NotStarted) return {};
  return formatted("%.1f s", board_seconds(board, now));
}

// The columns' widths; 0 for a column left out.
struct Layout {
  std::size_t port = 4, identity = 8, phase = 5, rate = kRateWidth, time = kTimeWidth, result = 6;

  // The width of a line with every column but the result, and the result at `result_width`.
  std::size_t width(std::size_t result_width) const {
    std::size_t total = kIndexWidth + kGap + port + kGap + phase + kGap + kPercentWidth + kGap + result_width;
    for (std::size_t optional : {identity, rate, time}) total += optional > 0 ? optional + kGap : 0;
    return total;
  }
};

// Each column as wide as its longest entry up to its cap; then, while the line is wider than `budget`
// with the result at its minimum: the identity goes, the port's name is shortened, the rate and the
// time go, the phase is cut. The number, port, phase, percent and result always stay.
Layout layout_for(const std::vector<const Board*>& boards, std::size_t budget) {
  Layout w;
  for (const Board* board : boards) {
    w.port = std::max(w.port, std::min(kPortCap, board->name.size()));
    w.identity = std::max(w.identity, std::min(kIdentityCap, board->identity.size()));
    w.phase = std::max(w.phase, std::min(kPhaseCap, phase_text(*board).size()));
    w.result = std::max(w.result, printable(result_text(*board)).size());
  }
  const std::size_t result = std::min(w.result, kResultMin);
  auto over = [&] { return w.width(result) > budget ? w.width(result) - budget : 0; };
  auto shrink = [&](std::size_t& column, std::size_t least) {
    column -= std::min(over(), column > least ? column - least : 0);
  };
  if (over() > 0) w.identity = 0;
  shrink(w.port, kPortMin);
  if (over() > 0) w.rate = 0;
  if (over() > 0) w.time = 0;
  shrink(w.phase, kPhaseMin);
  return w;
}

// `text` right-aligned in `width` columns; longer text is kept whole.
std::string right_aligned(const std::string& text, std::size_t width) {
  return std::string(width - std::min(width, text.size()), ' ') + text;
}

std::string row(const Layout& w, const std::array<std::string, 8>& cells, int columns) {
  const std::string gap(kGap, ' ');
  std::string line = right_aligned(cells[0], kIndexWidth) + gap + fitted(middle_shortened(cells[1], w.port), w.port);
  if (w.identity > 0) line += gap + fitted(cells[2], w.identity);
  line += gap + fitted(cells[3], w.phase) + gap + right_aligned(cells[4], kPercentWidth);
  if (w.rate > 0) line += gap + right_aligned(cells[5], w.rate);
  if (w.time > 0) line += gap + right_aligned(cells[6], w.time);
  line += gap + cells[7];
  line.resize(std::min(line.size(), static_cast<std::size_t>(std::max(columns - 1, 0))));
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string board_row(const Layout& w, const Board& board, SteadyTime now, int columns) {
  return row(w,
             {std::to_string(board.index), printable(board.name), printable(board.identity), phase_text(board),
              percent_text(board), rate_text(board, now), time_text(board, now), printable(result_text(board))},
             columns);
}

// "... 12 more: 8 loading, 3 done, 1 failed"
std::string left_out_line(const std::vector<const Board*>& left_out) {
  std::map<std::string, int> by_phase;
  for (const Board* board : left_out) ++by_phase[phase_name(board->phase)];
  std::string line = formatted("... %zu more:", left_out.size());
  const char* separator = " ";
  for (const auto& [phase, count] : by_phase) {
    line += formatted("%s%d %s", separator, count, phase.c_str());
    separator = ", ";
  }
  return line;
}

}  // namespace

std::string format_rate(double bytes_per_second) {
  if (bytes_per_second >= kKilo * kKilo) return formatted("%.1f MB/s", bytes_per_second / (kKilo * kKilo));
  if (bytes_per_second >= kKilo) return formatted("%.1f kB/s", bytes_per_second / kKilo);
  return formatted("%.0f B/s", bytes_per_second);
}

std::string result_text(const Board& board) {
  switch (board.phase) {
    case Phase::Done: return "ok";
    case Phase::Failed: return formatted("exit %d: ", board.exit_code) + failure_words(board);
    case Phase::NotStarted: return "not started";
    default: return {};
  }
}

std::vector<std::string> render_table(const std::vector<const Board*>& boards, SteadyTime now, TableSize size) {
  const Layout w = layout_for(boards, static_cast<std::size_t>(std::max(size.columns - 1, 0)));
  std::vector<std::string> lines{
      row(w, {"#", "port", "identity", "phase", "%", "rate", "time", "result"}, size.columns)};
  const std::size_t room = static_cast<std::size_t>(std::max(size.rows - 1, 1));
  const std::size_t shown = boards.size() <= room ? boards.size() : room - 1;
  for (std::size_t i = 0; i < shown; ++i) lines.push_back(board_row(w, *boards[i], now, size.columns));
  if (shown < boards.size()) {
    std::vector<const Board*> left_out(boards.begin() + static_cast<std::ptrdiff_t>(shown), boards.end());
    lines.push_back(fitted(left_out_line(left_out), static_cast<std::size_t>(std::max(size.columns - 1, 0))));
    while (!lines.back().empty() && lines.back().back() == ' ') lines.back().pop_back();
  }
  return lines;
}

std::string change_line(const Board& board, double since) {
  std::string line = formatted("%8.2f s  %s  ", since, printable(board.name).c_str());
  switch (board.phase) {
    case Phase::Done:
      return line + "done  " + (board.identity.empty() ? "" : printable(board.identity) + "  ") +
             formatted("%lld bytes in %.2f s", static_cast<long long>(board.bytes.value_or(0)), board.seconds);
    case Phase::Failed:
      return line + formatted("failed  exit code %d: %s", board.exit_code, printable(failure_words(board)).c_str());
    default: return line + phase_text(board);
  }
}

std::vector<std::string> summary_lines(const std::vector<const Board*>& boards, double total_seconds) {
  std::map<Phase, int> count;
  for (const Board* board : boards) ++count[board->phase];
  std::string totals = formatted("%zu board%s: %d passed, %d failed", boards.size(), boards.size() == 1 ? "" : "s",
                                 count[Phase::Done], count[Phase::Failed]);
  if (count[Phase::NotStarted] > 0) totals += formatted(", %d not started", count[Phase::NotStarted]);
  std::vector<std::string> lines{totals + formatted(", %.1f s", total_seconds)};
  for (const Board* board : boards) {
    if (board->phase == Phase::Done) continue;
    const std::string outcome = board->phase == Phase::Failed ? formatted("exit code %d: %s", board->exit_code,
                                                                          printable(failure_words(*board)).c_str())
                                                              : std::string("not started");
    lines.push_back(formatted("  %s (%s): %s", printable(board->name).c_str(), printable(board->port.device).c_str(),
                              outcome.c_str()));
  }
  return lines;
}

}  // namespace vx::station
