// vexalw: the loader in a window of its own.
//
// The process starts as the terminal front-end does (start_program and run_session, loader/session.h:
// same options, same limits, same refusal, same events): --port names COM1's device; --help, --version
// and --list-ports answer on standard output without a window; a refused command line is reported
// in the window's console like a run's end. The GUI thread builds a 640 x 480 window "VexalW" and
// then only runs FLTK's event loop; the loader runs on a worker thread from start to end. The two meet in three places only:
//
//  - the console store, which the GUI thread reads every 200 ms through a locked snapshot and draws
//    into the console area of the back buffer (an off-screen image of the whole client area);
//  - the progress bar, whose calls the worker hands over through a BarMailbox and an FLTK awake
//    request, because only the GUI thread may create, show or draw widgets;
//  - the end of the run: the worker sets `over` and wakes the event loop, which then shows the end
//    box "Vexal has finished" with the exit code and its meaning while the console keeps being
//    redrawn; dismissing it ends the process. What a terminal user reads on standard error (why the
//    port could not be opened) is added to the console after the "Exit code" line, where a desktop
//    user sees it.
//
// Closing the main window ends the process at once with status 0, wherever the loader is. That is
// done with std::_Exit: no destructor or exit handler runs, so nothing the worker is still using is
// torn down under it. The port is released first (its exclusive flag cleared, its lock dropped), or a
// pseudo-terminal's flag would outlive the process and keep every later run out. SIGINT and SIGTERM
// end the process the same way, by the signal.
//
// Ours first: X11's headers, which FLTK's bring in, define macros (None) that would rewrite our names.
#include "console/console.h"
#include "console/diag.h"
#include "console/finish.h"
#include "console/mprintf.h"
#include "console/outcome.h"
#include "console/progress.h"
#include "frontends/fltk/bar_mailbox.h"
#include "frontends/fltk/console_page.h"
#include "loader/args.h"
#include "loader/cli.h"
#include "loader/session.h"
#include "serial/comdrv.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <vector>


namespace {

// Main window, client coordinates.
constexpr char kAppName[] = "VexalW";  // the title, and the window class for the window manager
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 480;
constexpr int kStripHeight = 80;
constexpr int kConsoleHeight = kClientHeight - kStripHeight;
constexpr double kTickSeconds = 0.2;

// Console font: Courier at 14 is 8 pixels wide with the usual fonts, so 80 columns fill the width.
constexpr int kPreferredFontSize = 14;
constexpr int kSmallestFontSize = 8;
constexpr int kLinePitch = 17;

// The progress strip.
constexpr char kLoadingText[] = "Loading...";
constexpr int kLabelLeft = 20, kLabelTop = 405, kLabelRight = 95, kLabelBottom = 425;
constexpr int kLabelFontSize = 14;
constexpr int kBarLabelFontSize = 12;
constexpr int kBarX = 100, kBarY = 400, kBarWidth = 400, kBarHeight = 30;
const Fl_Color kBarColor = fl_rgb_color(6, 176, 37);

// The end box.
constexpr char kEndCaption[] = "Vexal";
constexpr char kEndText[] = "Vexal has finished";
constexpr int kBoxWidth = 380, kBoxHeight = 130;
constexpr int kIconX = 20, kIconY = 20, kIconSize = 40;
constexpr int kTextX = 76, kTextY = 14, kTextWidth = 290, kTextHeight = 70;
constexpr int kOkWidth = 90, kOkHeight = 28, kOkMargin = 12;
constexpr int kTextFontSize = 14, kIconMarkSize = 26;

constexpr int kStartupFailure = 1;
constexpr int kDone = vx::exit_status(vx::ExitCode::Done);

// ---- the worker's side ------------------------------------------------------------------------

struct Gui;

// The diagnostics of a run (why the port could not be opened): on standard error as ever, and kept
// for the console once the run has ended.
class KeptDiagnostics {
 public:
  void add(const std::string& line) {
    std::fprintf(stderr, "vexalw: %s\n", line.c_str());
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(line);
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> hold(lock_);
    return std::move(lines_);
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

// Written before the worker starts and only read by it afterwards, except `over` and `code`, which
// the worker sets last (the GUI thread reads the code once `over` is seen).
struct LoaderRun {
  vx::RunRequest request;
  vx::ProgressView* progress = nullptr;  // the bar's mailbox
  Gui* gui = nullptr;                    // what the awake request at the end refreshes
  KeptDiagnostics* kept = nullptr;       // shown in the console after the run
  int code = 0;
  std::atomic<bool> over{false};
};

// What a fresh run lacks here: the bar's mailbox, and the sink that keeps the diagnostics.
void plug_in(const LoaderRun& run) {
  vx::set_progress_view(run.progress);
  KeptDiagnostics* kept = run.kept;
  vx::set_diagnostic_sink([kept](const std::string& line) { kept->add(line); });
}

int run_loader(const LoaderRun& run) {
  try {
    return vx::run_session(run.request, nullptr, [&run] { plug_in(run); }).code;
  } catch (const std::exception& e) {
    // Not a run end the loader knows: say so on the console, where the user is looking.
    vx::diagnostic(std::string("internal failure: ") + e.what());
    return vx::refuse_run(std::string("Error: internal failure: ") + e.what());
  }
}

// After the "Exit code" line, so the console's own lines stay as the loader wrote them.
void show_kept_diagnostics(KeptDiagnostics& kept) {
  for (const std::string& line : kept.take()) {
    vx::li_putc('\n');
    for (char c : line) vx::li_putc(c);
  }
}

void on_wake(void*);

// The worker's last act: the event loop learns that the run is over. Should the awake queue be
// full, the loop still sees `over` when the next tick wakes it.
void worker_main(LoaderRun* run) {
  run->code = run_loader(*run);
  vx::set_progress_view(nullptr);
  vx::set_diagnostic_sink(nullptr);  // the kept lines' owner goes when the event loop is done
  show_kept_diagnostics(*run->kept);
  run->over.store(true);
  static_cast<void>(Fl::awake(on_wake, run->gui));
}

// ---- the window -------------------------------------------------------------------------------

double courier_column_width(int size) {
  fl_font(FL_COURIER, size);
  const std::string columns(vx::kConsoleColumns, 'M');
  return fl_width(columns.c_str()) / vx::kConsoleColumns;
}

[[noreturn]] void end_at_once() {
  vx::comdrv_release_now();
  std::_Exit(0);
}

void on_main_window_close(Fl_Widget*, void*) {
  // FLTK also calls a window's callback for the Escape key; only a real close ends the program.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  end_at_once();
}

// Runs in the signal's context: only what is safe there. The signal, re-raised with its default
// action once this handler returns, ends the process.
void on_end_signal(int signal_number) {
  vx::comdrv_release_now();
  static_cast<void>(::signal(signal_number, SIG_DFL));
  static_cast<void>(::raise(signal_number));
}

void catch_end_signals() {
  struct sigaction action {};
  action.sa_handler = on_end_signal;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM}) static_cast<void>(::sigaction(signal_number, &action, nullptr));
}

class ConsoleWindow : public Fl_Window {
 public:
  explicit ConsoleWindow(int font_size)
      : Fl_Window(0, 0, kClientWidth, kClientHeight, kAppName),
        font_size_(font_size),
        bar_(kBarX, kBarY, kBarWidth, kBarHeight) {
    bar_.minimum(vxw::kBarEmpty);
    bar_.maximum(vxw::kBarFull);
    bar_.selection_color(kBarColor);
    bar_.labelsize(kBarLabelFontSize);
    bar_.hide();
    end();
    xclass(kAppName);
    callback(on_main_window_close);
  }
  ~ConsoleWindow() override {
    if (back_buffer_) fl_delete_offscreen(back_buffer_);
  }
  ConsoleWindow(const ConsoleWindow&) = delete;
  ConsoleWindow& operator=(const ConsoleWindow&) = delete;

  // Needs the display open. The strip keeps this colour; the console area is painted at each tick.
  bool create_back_buffer() {
    back_buffer_ = fl_create_offscreen(kClientWidth, kClientHeight);
    if (!back_buffer_) return false;
    fill_back_buffer(0, 0, kClientWidth, kClientHeight, FL_BACKGROUND_COLOR);
    return true;
  }

  // The whole console area, from a consistent snapshot of the store, every tick.
  void display() {
    const std::vector<std::string> lines = vxw::console_lines(vx::console_snapshot().text);
    fl_begin_offscreen(back_buffer_);
    fl_push_clip(0, 0, kClientWidth, kConsoleHeight);
    fl_color(FL_WHITE);
    fl_rectf(0, 0, kClientWidth, kConsoleHeight);
    fl_color(FL_BLACK);
    fl_font(FL_COURIER, font_size_);
    int baseline = kLinePitch - fl_descent();
    for (const std::string& line : lines) {
      fl_draw(line.data(), static_cast<int>(line.size()), 0, baseline);
      baseline += kLinePitch;
    }
    fl_pop_clip();
    fl_end_offscreen();
    damage(FL_DAMAGE_USER1, 0, 0, kClientWidth, kConsoleHeight);
  }

  void apply(const vxw::BarState& state) {
    if (state.shown != label_shown_) draw_loading_label(state.shown);
    if (!state.shown) {
      if (bar_.visible()) bar_.hide();
      return;
    }
    bar_.value(static_cast<float>(state.percent));
    bar_.copy_label(vxw::bar_label(state).c_str());
    if (!bar_.visible()) bar_.show();
  }

 protected:
  // Paints from the back buffer, then the bar on top of the strip.
  void draw() override {
    if (back_buffer_)
      fl_copy_offscreen(0, 0, w(), h(), back_buffer_, 0, 0);
    else
      fl_rectf(0, 0, w(), h(), FL_BACKGROUND_COLOR);
    draw_children();
  }

 private:
  void fill_back_buffer(int x, int y, int w, int h, Fl_Color color) {
    fl_begin_offscreen(back_buffer_);
    fl_rectf(x, y, w, h, color);
    fl_end_offscreen();
    damage(FL_DAMAGE_USER1, x, y, w, h);
  }

  // The label lives in the back buffer, drawn without a background of its own over the strip.
  void draw_loading_label(bool shown) {
    const int width = kLabelRight - kLabelLeft, height = kLabelBottom - kLabelTop;
    fill_back_buffer(kLabelLeft, kLabelTop, width, height, FL_BACKGROUND_COLOR);
    label_shown_ = shown;
    if (!shown) return;
    fl_begin_offscreen(back_buffer_);
    fl_push_clip(kLabelLeft, kLabelTop, width, height);
    fl_color(FL_FOREGROUND_COLOR);
    fl_font(FL_HELVETICA, kLabelFontSize);
    fl_draw(kLoadingText, kLabelLeft, kLabelTop, width, height, FL_ALIGN_CENTER, nullptr, 0);
    fl_pop_clip();
    fl_end_offscreen();
  }

  int font_size_;                 // the console font's size (the face is FLTK's Courier)
  Fl_Progress bar_;               // the progress bar; hidden while no command file runs
  Fl_Offscreen back_buffer_ = 0;  // the back buffer: the whole client area
  bool label_shown_ = false;
};

// ---- the end box --------------------------------------------------------------------------------

class ExclamationIcon : public Fl_Widget {
 public:
  ExclamationIcon(int x, int y, int size) : Fl_Widget(x, y, size, size) {}

 protected:
  void draw() override {
    const int left = x(), top = y(), right = x() + w() - 1, bottom = y() + h() - 1, mid = x() + w() / 2;
    fl_color(FL_YELLOW);
    fl_polygon(mid, top, right, bottom, left, bottom);
    fl_color(FL_BLACK);
    fl_loop(mid, top, right, bottom, left, bottom);
    fl_font(FL_HELVETICA_BOLD, kIconMarkSize);
    fl_draw("!", left, top + h() / 4, w(), h() * 3 / 4, FL_ALIGN_CENTER, nullptr, 0);
  }
};

void on_end_box_dismiss(Fl_Widget* widget, void*) {
  Fl_Window* box = widget->as_window() ? widget->as_window() : widget->window();
  box->hide();
}

// "Vexal has finished", then the exit code and what it means.
std::string end_text(int code) {
  return std::string(kEndText) + "\n\nExit code " + std::to_string(code) + ": " + vx::exit_code_meaning(code);
}

// Its own small window rather than fl_alert: an FLTK modal box would swallow the main window's close
// request, and closing the main window must end the program while the box is up too.
class EndBox : public Fl_Window {
 public:
  EndBox(const Fl_Window& over, int code)
      : Fl_Window(over.x() + (over.w() - kBoxWidth) / 2, over.y() + (over.h() - kBoxHeight) / 2,
                  kBoxWidth, kBoxHeight, kEndCaption),
        icon_(kIconX, kIconY, kIconSize),
        text_(kTextX, kTextY, kTextWidth, kTextHeight),
        ok_(kBoxWidth - kOkWidth - kOkMargin, kBoxHeight - kOkHeight - kOkMargin, kOkWidth, kOkHeight,
            "OK") {
    text_.copy_label(end_text(code).c_str());
    text_.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    text_.labelsize(kTextFontSize);
    ok_.callback(on_end_box_dismiss);
    end();
    set_non_modal();
    xclass(kAppName);
    callback(on_end_box_dismiss);
  }

 private:
  ExclamationIcon icon_;
  Fl_Box text_;
  Fl_Return_Button ok_;
};

// ---- the GUI thread -------------------------------------------------------------------------------

struct Gui {
  ConsoleWindow* window = nullptr;
  vxw::BarMailbox* mailbox = nullptr;

  void refresh_console() const { window->display(); }
  void refresh_bar() const {
    if (auto state = mailbox->take()) window->apply(*state);
  }
};

// FLTK's callbacks get the Gui as their data: it lives in run_window until the event loop is done.
void on_wake(void* gui) { static_cast<Gui*>(gui)->refresh_bar(); }

void on_tick(void* gui) {
  static_cast<Gui*>(gui)->refresh_console();
  static_cast<Gui*>(gui)->refresh_bar();
  Fl::repeat_timeout(kTickSeconds, on_tick, gui);
}

// One turn of the event loop. With no window left there is nothing to show or dismiss: end as a
// close does.
void wait_for_events() {
  if (Fl::wait() == 0) end_at_once();
}

bool start_worker(std::thread& loader_thread, LoaderRun& run) {
  try {
    loader_thread = std::thread(worker_main, &run);
    return true;
  } catch (const std::system_error& e) {
    vx::diagnostic(std::string("vexalw: can't start the loader's thread: ") + e.what());
    return false;
  }
}

// Runs the event loop until the worker reports the end of the run; false when it could not start.
bool run_loader_in_window(LoaderRun& run) {
  KeptDiagnostics kept;
  run.kept = &kept;
  std::thread loader_thread;
  if (!start_worker(loader_thread, run)) return false;
  while (!run.over.load()) wait_for_events();
  loader_thread.join();
  return true;
}

void show_end_box(const ConsoleWindow& window, const Gui& gui, int code) {
  gui.refresh_console();  // the "Exit code" line stands before the box comes up
  gui.refresh_bar();
  EndBox box(window, code);
  box.show();
  while (box.shown()) wait_for_events();
}

int run_window(LoaderRun& run) {
  if (Fl::lock() != 0) {
    vx::diagnostic("vexalw: FLTK was built without thread support");
    return kStartupFailure;
  }
  fl_open_display();
  catch_end_signals();

  ConsoleWindow window(vxw::choose_font_size(courier_column_width, vx::kConsoleColumns, kClientWidth,
                                             kPreferredFontSize, kSmallestFontSize));
  window.show();
  if (!window.create_back_buffer()) {
    vx::diagnostic("vexalw: can't create the back buffer");
    return kStartupFailure;
  }
  Gui gui;
  vxw::BarMailbox mailbox([&gui] { return Fl::awake(on_wake, &gui) == 0; });
  gui = {&window, &mailbox};
  gui.refresh_console();
  run.progress = &mailbox;
  run.gui = &gui;
  Fl::add_timeout(kTickSeconds, on_tick, &gui);

  const bool ran = run_loader_in_window(run);
  if (!ran) return kStartupFailure;
  show_end_box(window, gui, run.code);

  Fl::remove_timeout(on_tick, &gui);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = vx::program_name(argc > 0 ? argv[0] : nullptr, "vexalw");
  const vx::ProgramStart start = vx::start_program(std::vector<std::string>(argv + 1, argv + argc), program,
                                                   vx::settings_from_environment());
  if (start.answer) {  // --help, --version and --list-ports need no window
    std::fputs(start.answer->c_str(), stdout);
    return kDone;
  }
  LoaderRun run;
  run.request = start.run;
  return run_window(run);
}
