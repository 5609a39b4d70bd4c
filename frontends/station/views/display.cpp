#include "frontends/station/views/display.h"

#include <sys/ioctl.h>

namespace vx::station {

namespace {

constexpr const char* kHideCursor = "\x1b[?25l";
constexpr const char* kShowCursor = "\x1b[?25h";
constexpr const char* kClearToLineEnd = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";

class LogDisplay : public Display {
 public:
  explicit LogDisplay(std::FILE* out) : out_(out) {}
  void note(const std::string& line) override { print(line); }
  void changed(const Board& board, double since) override { print(change_line(board, since)); }
  void show(const std::vector<const Board*>&, SteadyTime, bool) override {}
  void close() override {}

 private:
  void print(const std::string& line) {
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
  }
  std::FILE* out_;
};

class LiveDisplay : public Display {
 public:
  LiveDisplay(std::FILE* out, SizeSource size) : out_(out), size_(std::move(size)) {}
  void note(const std::string& line) override;
  void changed(const Board&, double) override {}
  void show(const std::vector<const Board*>& boards, SteadyTime now, bool force) override;
  void close() override;

 private:
  void move_to_table_top();
  void draw(const std::vector<std::string>& lines);

  std::FILE* out_;
  SizeSource size_;
  std::size_t drawn_lines_ = 0;
  bool cursor_hidden_ = false;
  bool drawn_once_ = false;
  SteadyTime last_drawn_{};
  std::vector<const Board*> last_boards_;
};

void LiveDisplay::move_to_table_top() {
  if (drawn_lines_ > 0) std::fprintf(out_, "\r\x1b[%zuA", drawn_lines_);
  drawn_lines_ = 0;
}

void LiveDisplay::draw(const std::vector<std::string>& lines) {
  if (!cursor_hidden_) std::fputs(kHideCursor, out_);
  cursor_hidden_ = true;
  move_to_table_top();
  for (const std::string& line : lines) std::fprintf(out_, "%s%s\n", line.c_str(), kClearToLineEnd);
  std::fputs(kClearBelow, out_);
  std::fflush(out_);
  drawn_lines_ = lines.size();
}

void LiveDisplay::note(const std::string& line) {
  move_to_table_top();
  std::fprintf(out_, "%s%s\n%s", line.c_str(), kClearToLineEnd, kClearBelow);
  std::fflush(out_);
  if (drawn_once_) show(last_boards_, last_drawn_, true);
}

void LiveDisplay::show(const std::vector<const Board*>& boards, SteadyTime now, bool force) {
  if (!force && drawn_once_ && now - last_drawn_ < kLiveInterval) return;
  TableSize size = size_();
  size.rows = std::max(size.rows - 1, 2);
  draw(render_table(boards, now, size));
  drawn_once_ = true;
  last_drawn_ = now;
  last_boards_ = boards;
}

// The last drawing stays where it is: what comes after it (the summary) goes below it.
void LiveDisplay::close() {
  if (cursor_hidden_) std::fputs(kShowCursor, out_);
  cursor_hidden_ = false;
  drawn_lines_ = 0;
  drawn_once_ = false;
  std::fflush(out_);
}

}  // namespace

void Display::error_line(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

std::unique_ptr<Display> make_display(std::FILE* out, bool live, SizeSource size) {
  if (live) return std::make_unique<LiveDisplay>(out, std::move(size));
  return std::make_unique<LogDisplay>(out);
}

TableSize terminal_size(int fd) {
  winsize window{};
  if (::ioctl(fd, TIOCGWINSZ, &window) != 0 || window.ws_col == 0 || window.ws_row == 0) return TableSize{};
  return TableSize{window.ws_col, window.ws_row};
}

}  // namespace vx::station
