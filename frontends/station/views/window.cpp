// Ours first: X11's headers, which FLTK's bring in, define macros (None, Status) that would rewrite our names.
#include "frontends/station/views/window.h"

#include "frontends/station/views/text.h"
#include "frontends/station/views/tiles.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

namespace vx::station {

namespace {

constexpr char kTitle[] = "vexal-station";
constexpr int kStartWidth = 1280, kStartHeight = 800;
constexpr int kSmallestWidth = 320, kSmallestHeight = 200;
constexpr int kSmallestFont = 9;
constexpr double kShrink = 0.9;

// The header takes a sixteenth of the window's height, within these bounds.
constexpr int kHeaderShare = 16, kHeaderLeast = 26, kHeaderMost = 72;
// The gap between tiles: a fortieth of a tile's smaller side, at least this.
constexpr int kGapShare = 40, kGapLeast = 4;

// A line of text in a tile: its font size, its top and its height, each as a share of the tile's height.
struct Band {
  double size, top, height;
};
constexpr Band kNameBand{0.17, 0.0, 0.28};
constexpr Band kPhaseBand{0.14, 0.30, 0.22};
constexpr Band kWaitingBand{0.21, 0.24, 0.48};
constexpr Band kResultBand{0.42, 0.24, 0.48};  // the large PASS / FAIL
constexpr Band kReasonBand{0.13, 0.72, 0.24};
constexpr double kBarTop = 0.58, kBarHeight = 0.24;  // the running tile's bar
constexpr double kMargin = 0.06;                     // of the tile's width, left and right of its texts

const Fl_Color kWaitingColor = fl_rgb_color(178, 178, 178);
const Fl_Color kRunningColor = fl_rgb_color(32, 64, 112);
const Fl_Color kPassedColor = fl_rgb_color(24, 150, 48);
const Fl_Color kFailedColor = fl_rgb_color(204, 24, 24);
const Fl_Color kBarFillColor = fl_rgb_color(110, 190, 255);
const Fl_Color kBarTroughColor = fl_rgb_color(20, 40, 72);
const Fl_Color kHeaderColor = fl_rgb_color(40, 40, 40);
const Fl_Color kBackdropColor = fl_rgb_color(24, 24, 24);

Fl_Color tile_color(TileState state) {
  switch (state) {
    case TileState::Waiting: return kWaitingColor;
    case TileState::Running: return kRunningColor;
    case TileState::Passed: return kPassedColor;
    case TileState::Failed: return kFailedColor;
  }
  return kWaitingColor;
}

// The largest size up to `size` at which `text` fits `width` pixels in `font` (the font is left set).
int fitting_size(const std::string& text, Fl_Font font, int size, int width) {
  size = std::max(size, kSmallestFont);
  fl_font(font, size);
  while (size > kSmallestFont && fl_width(text.c_str()) > width) {
    size = std::max(kSmallestFont, static_cast<int>(size * kShrink));
    fl_font(font, size);
  }
  return size;
}

// `text` in a band of the tile, fitted to its width inside the margins.
void draw_band(const std::string& text, Fl_Font font, const Band& band, const Fl_Widget& tile, Fl_Align align) {
  if (text.empty()) return;
  const int margin = static_cast<int>(tile.w() * kMargin);
  const int x = tile.x() + margin, width = tile.w() - 2 * margin;
  fitting_size(text, font, static_cast<int>(tile.h() * band.size), width);
  const int y = tile.y() + static_cast<int>(tile.h() * band.top), height = static_cast<int>(tile.h() * band.height);
  fl_push_clip(x, y, width, height);
  fl_draw(text.c_str(), x, y, width, height, align, nullptr, 0);
  fl_pop_clip();
}

class Tile : public Fl_Widget {
 public:
  explicit Tile(const Board* board) : Fl_Widget(0, 0, 1, 1), board_(board) {}
  const Board* board() const { return board_; }
  // True when the view changed (the tile is then to be drawn again).
  bool update() {
    TileView view = tile_view(*board_);
    if (drawn_once_ && view == view_) return false;
    view_ = std::move(view);
    drawn_once_ = true;
    copy_label(tile_text(view_).c_str());
    return true;
  }

 protected:
  void draw() override {
    fl_rectf(x(), y(), w(), h(), tile_color(view_.state));
    const Fl_Color ink = view_.state == TileState::Waiting ? FL_BLACK : FL_WHITE;
    fl_color(ink);
    draw_band(view_.name, FL_HELVETICA_BOLD, kNameBand, *this, FL_ALIGN_LEFT);
    switch (view_.state) {
      case TileState::Waiting: draw_band(view_.phase, FL_HELVETICA, kWaitingBand, *this, FL_ALIGN_CENTER); break;
      case TileState::Running:
        draw_band(view_.phase, FL_HELVETICA, kPhaseBand, *this, FL_ALIGN_LEFT);
        if (view_.percent >= 0) draw_bar();
        break;
      case TileState::Passed:
      case TileState::Failed:
        draw_band(view_.result, FL_HELVETICA_BOLD, kResultBand, *this, FL_ALIGN_CENTER);
        draw_band(view_.reason, FL_HELVETICA, kReasonBand, *this, FL_ALIGN_CENTER);
        break;
    }
  }

 private:
  void draw_bar() {
    const int margin = static_cast<int>(w() * kMargin);
    const int bar_x = x() + margin, bar_y = y() + static_cast<int>(h() * kBarTop);
    const int bar_w = w() - 2 * margin, bar_h = static_cast<int>(h() * kBarHeight);
    const int filled = bar_w * std::clamp(view_.percent, 0, 100) / 100;
    fl_rectf(bar_x, bar_y, bar_w, bar_h, kBarTroughColor);
    fl_rectf(bar_x, bar_y, filled, bar_h, kBarFillColor);
    fl_color(FL_WHITE);
    fl_rect(bar_x, bar_y, bar_w, bar_h);
    // The percent reads dark on the filled part and light on the rest, wherever the fill ends.
    const std::string percent = formatted("%d %%", view_.percent);
    fl_font(FL_HELVETICA_BOLD, std::max(kSmallestFont, bar_h * 2 / 3));
    for (const auto& [from, width, ink] :
         {std::tuple(bar_x, filled, kBarTroughColor), std::tuple(bar_x + filled, bar_w - filled, Fl_Color(FL_WHITE))}) {
      fl_push_clip(from, bar_y, width, bar_h);
      fl_color(ink);
      fl_draw(percent.c_str(), bar_x, bar_y, bar_w, bar_h, FL_ALIGN_CENTER, nullptr, 0);
      fl_pop_clip();
    }
  }

  const Board* board_;
  TileView view_;
  bool drawn_once_ = false;
};

class Header : public Fl_Widget {
 public:
  Header() : Fl_Widget(0, 0, 1, 1) {}
  bool update(const std::string& text) {
    if (text == text_) return false;
    text_ = text;
    copy_label(text_.c_str());
    return true;
  }

 protected:
  void draw() override {
    fl_rectf(x(), y(), w(), h(), kHeaderColor);
    fl_color(FL_WHITE);
    const int margin = h() / 3;
    fitting_size(text_, FL_HELVETICA_BOLD, h() * 3 / 5, w() - 2 * margin);
    fl_draw(text_.c_str(), x() + margin, y(), w() - 2 * margin, h(), FL_ALIGN_LEFT, nullptr, 0);
  }

 private:
  std::string text_;
};

class StationWindow : public Fl_Double_Window {
 public:
  StationWindow() : Fl_Double_Window(kStartWidth, kStartHeight, kTitle) {
    end();
    add(header_);
    color(kBackdropColor);
    size_range(kSmallestWidth, kSmallestHeight);
    resizable(this);
    xclass(kTitle);
  }
  ~StationWindow() override {
    for (Tile* tile : tiles_) delete tile;
  }
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  Header& header() { return header_; }
  const Header& header() const { return header_; }
  const std::vector<Tile*>& tiles() const { return tiles_; }

  // One tile per board, in the boards' order: tiles of boards no longer shown go, new ones come.
  void match_boards(const std::vector<const Board*>& boards) {
    const bool same = boards.size() == tiles_.size() &&
                      std::equal(boards.begin(), boards.end(), tiles_.begin(),
                                 [](const Board* board, const Tile* tile) { return tile->board() == board; });
    if (same) return;
    std::vector<Tile*> kept;
    for (const Board* board : boards) {
      auto it = std::find_if(tiles_.begin(), tiles_.end(), [&](Tile* tile) { return tile->board() == board; });
      if (it != tiles_.end()) {
        kept.push_back(*it);
        tiles_.erase(it);
      } else {
        kept.push_back(new Tile(board));
        add(kept.back());
      }
    }
    for (Tile* gone : tiles_) {
      remove(gone);
      delete gone;
    }
    tiles_ = std::move(kept);
    place_children();
    redraw();
  }

  void resize(int x, int y, int w, int h) override {
    Fl_Double_Window::resize(x, y, w, h);
    place_children();
  }

 private:
  void place_children() {
    const int header_h = std::clamp(h() / kHeaderShare, kHeaderLeast, kHeaderMost);
    header_.resize(0, 0, w(), header_h);
    const int area_h = h() - header_h;
    const Grid grid = grid_for(tiles_.size(), w(), area_h);
    const int cell_w = w() / grid.columns, cell_h = area_h / grid.rows;
    const int gap = std::max(kGapLeast, std::min(cell_w, cell_h) / kGapShare);
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
      const int column = static_cast<int>(i) % grid.columns, row = static_cast<int>(i) / grid.columns;
      tiles_[i]->resize(column * cell_w + gap / 2, header_h + row * cell_h + gap / 2, cell_w - gap, cell_h - gap);
    }
  }

  Header header_;
  std::vector<Tile*> tiles_;
};

class WindowDisplay : public Display {
 public:
  WindowDisplay(std::unique_ptr<Display> log, std::string job) : log_(std::move(log)), job_(std::move(job)) {
    if (const char* dump = std::getenv("VEXAL_STATION_WINDOW_DUMP"); dump != nullptr && *dump != '\0') dump_ = dump;
    window_.callback(on_close, this);
    window_.show();
    started_ = std::chrono::steady_clock::now();
  }

  void note(const std::string& line) override { log_->note(line); }
  void changed(const Board& board, double since) override { log_->changed(board, since); }
  void show(const std::vector<const Board*>& boards, SteadyTime now, bool force) override;
  void close() override;
  int wake_fd() const override { return fl_display != nullptr ? ConnectionNumber(fl_display) : -1; }
  void serve() override { Fl::check(); }
  std::optional<std::chrono::milliseconds> wake_interval() const override {
    return ended_ ? std::nullopt : std::optional(kLiveInterval);
  }
  void linger() override;

 private:
  static void on_close(Fl_Widget*, void* self) { static_cast<WindowDisplay*>(self)->close_requested(); }
  void close_requested();
  std::string state_text() const;
  void write_dump();

  std::unique_ptr<Display> log_;
  std::string job_;
  std::string dump_;
  std::string dumped_;  // what the dump file holds
  StationWindow window_;
  SteadyTime started_{}, last_drawn_{};
  bool drawn_once_ = false;
  bool ended_ = false;
  int closes_ = 0;
  std::vector<const Board*> boards_;
};

void WindowDisplay::show(const std::vector<const Board*>& boards, SteadyTime now, bool force) {
  if (!force && drawn_once_ && now - last_drawn_ < kLiveInterval) return;
  drawn_once_ = true;
  last_drawn_ = now;
  boards_ = boards;
  window_.match_boards(boards);
  for (Tile* tile : window_.tiles()) {
    if (tile->update()) tile->redraw();
  }
  const double seconds = std::chrono::duration<double>(now - started_).count();
  if (window_.header().update(header_text(job_, count_tiles(boards), seconds) + state_text()))
    window_.header().redraw();
  Fl::flush();
  write_dump();
}

std::string WindowDisplay::state_text() const {
  if (ended_) return "   finished";
  if (closes_ == 1) return "   stopping: close again to interrupt";
  if (closes_ > 1) return "   interrupting";
  return {};
}

void WindowDisplay::close_requested() {
  // FLTK also calls a window's callback for the Escape key; only a real close counts.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  if (ended_) {
    window_.hide();
    return;
  }
  ++closes_;
  static_cast<void>(::kill(::getpid(), SIGINT));  // read by the station's loop as a Ctrl-C
  show(boards_, std::chrono::steady_clock::now(), true);
}

void WindowDisplay::close() {
  ended_ = true;
  show(boards_, std::chrono::steady_clock::now(), true);
  log_->close();
}

// The station's signals are still blocked (its loop took them): a Ctrl-C, SIGTERM or SIGHUP now
// waits as pending, and ends the lingering with the station's own status.
bool end_signal_pending() {
  sigset_t pending;
  if (::sigpending(&pending) != 0) return false;
  return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
         sigismember(&pending, SIGHUP) == 1;
}

void WindowDisplay::linger() {
  if (closes_ > 0) return;  // closed before the end: the person has gone already
  const double interval = std::chrono::duration<double>(kLiveInterval).count();
  while (window_.shown() && !end_signal_pending()) Fl::wait(interval);
}

// Only when what it holds changed (a tile, the header, the tiles' places after a resize).
void WindowDisplay::write_dump() {
  if (dump_.empty()) return;
  std::string text = "header\t" + std::string(window_.header().label()) + "\n";
  for (const Tile* tile : window_.tiles()) {
    std::string texts = tile->label();
    std::replace(texts.begin(), texts.end(), '\n', '|');
    text += formatted("tile\t%d %d %d %d\t", tile->x(), tile->y(), tile->w(), tile->h()) + texts + "\n";
  }
  if (text == dumped_) return;
  dumped_ = text;
  const std::string partial = dump_ + ".part";
  std::ofstream(partial, std::ios::trunc) << text;
  std::error_code ignored;  // a test tool's file: a failure to write it must not touch the boards
  std::filesystem::rename(partial, dump_, ignored);
}

}  // namespace

bool window_built() { return true; }

std::unique_ptr<Display> make_window_display(std::unique_ptr<Display> log, const std::string& job, std::string& why) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    why = "--window needs a display (DISPLAY is not set)";
    return nullptr;
  }
  ::Display* x_display = XOpenDisplay(nullptr);  // FLTK would end the process on a display it can't open
  if (x_display == nullptr) {
    why = std::string("--window: can't open the display ") + display;
    return nullptr;
  }
  fl_open_display(x_display);
  return std::make_unique<WindowDisplay>(std::move(log), job);
}

}  // namespace vx::station
