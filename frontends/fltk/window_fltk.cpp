// vexalw: the loader in a window of its own.
//
// The process starts as the terminal front-end does (start_program and run_session, loader/session.h:
// same options, same limits, same refusal, same events): --port names COM1's device; --help, --version
// and --list-ports answer on standard output without a window; a refused command line is reported
// in the window's console like a run's end. The GUI thread builds a 640 x 480 window "VexalW" and
// then only runs FLTK's event loop; the loader runs on a worker thread from start to end. The two meet in three places
// only:
//
//  - the console store, which the GUI thread reads every 200 ms through a locked snapshot and draws
//    into the console area of the back buffer (an off-screen image of the whole client area);
//  - the progress bar, whose calls the worker hands over through a BarMailbox and an FLTK awake
//    request, because only the GUI thread may create, show or draw widgets; it follows a command
//    file's lines and, while one runs, a transfer's bytes (download, verify, memory read or write);
//  - the end of the run: the worker sets `over` and wakes the event loop, which then shows the end
//    box "Vexal has finished" with the exit code and its meaning while the console keeps being
//    redrawn; dismissing it ends the process (after --choose, Again runs it once more). The box
//    says PASS under a green tick for exit code 0 and FAIL under a red cross otherwise, so the
//    outcome reads at a glance; after a failure the bar turns red and stays where the run stopped,
//    shown even if the run had hidden it. What a terminal user reads on standard error (why the
//    port could not be opened) is added to the console after the "Exit code" line, where a desktop
//    user sees it.
//
// VEXALW_BAR_TRACE=FILE (for tests and tools): every state the bar is given is appended to FILE as a
// line, "FILE-OR-PHASE PERCENT%", "hidden", or for the red bar after a failure "failed LABEL".
//
// `vexalw --choose` (the desktop entry's way in) first asks for the port, the file and the baud rate in
// a small dialog (the last choices filled in, choices.h says where they are kept), then runs the
// loader with them as its arguments; its end box then offers Again (the same run once more, in the
// same window) and Close.
//
// Closing the main window ends the process at once with status 0, wherever the loader is. That is
// done with std::_Exit: no destructor or exit handler runs, so nothing the worker is still using is
// torn down under it. The port is released first (its exclusive flag cleared, its lock dropped), or a
// pseudo-terminal's flag would outlive the process and keep every later run out. SIGINT, SIGTERM and
// SIGHUP (the session that started the window is gone) end the process the same way, by the signal.
// SIGPIPE is ignored: an events pipe whose reader went away fails its writes, which is said once, and
// the run goes on to its end.
//
// Ours first: X11's headers, which FLTK's bring in, define macros (None) that would rewrite our names.
#include "console/console.h"
#include "console/diag.h"
#include "console/finish.h"
#include "console/mprintf.h"
#include "console/outcome.h"
#include "console/progress.h"
#include "frontends/fltk/bar_mailbox.h"
#include "frontends/fltk/choices.h"
#include "frontends/fltk/console_page.h"
#include "loader/args.h"
#include "loader/cli.h"
#include "loader/session.h"
#include "serial/comdrv.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
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
#include <optional>
#include <string>
#include <string_view>
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
constexpr int kLabelLeft = 20, kLabelTop = 405, kLabelRight = 95, kLabelBottom = 425;
constexpr int kLabelFontSize = 14;
constexpr int kBarLabelFontSize = 12;
constexpr int kBarX = 100, kBarY = 400, kBarWidth = 400, kBarHeight = 30;
const Fl_Color kBarColor = fl_rgb_color(6, 176, 37);
const Fl_Color kFailColor = fl_rgb_color(204, 24, 24);
const Fl_Color kFailTroughColor = fl_rgb_color(245, 196, 196);
constexpr char kStoppedText[] = "stopped";

// The end box.
constexpr int kBoxWidth = 380, kBoxHeight = 150;
constexpr int kIconX = 20, kIconY = 20, kIconSize = 40;
constexpr int kVerdictX = 76, kVerdictY = 10, kVerdictWidth = 290, kVerdictHeight = 30;
constexpr int kTextX = 76, kTextY = 40, kTextWidth = 290, kTextHeight = 60;
constexpr int kOkWidth = 90, kOkHeight = 28, kOkMargin = 12;
constexpr int kTextFontSize = 14, kVerdictFontSize = 24;
const Fl_Color kPassColor = fl_rgb_color(24, 150, 48);
constexpr int kMarkWidth = 5;  // the tick's and the cross's strokes

constexpr int kStartupFailure = 1;
constexpr char kChooseOption[] = "--choose";
constexpr std::string_view kChooseUsage =
    "      --choose        ask for the port, the file and the baud rate in a dialog, then run (as the\n"
    "                      only argument: the desktop entry's way in)\n";
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
  vx::ProgressView* progress = nullptr;  // the bar's mailbox, for the command file's lines
  vx::TransferView* transfer = nullptr;  // the same mailbox, for the transfers' bytes
  Gui* gui = nullptr;                    // what the awake request at the end refreshes
  KeptDiagnostics* kept = nullptr;       // shown in the console after the run
  int code = 0;
  std::atomic<bool> over{false};
};

// What a fresh run lacks here: the bar's mailbox, and the sink that keeps the diagnostics.
void plug_in(const LoaderRun& run) {
  vx::set_progress_view(run.progress);
  if (run.transfer) vx::add_transfer_view(run.transfer);
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
  if (run->transfer) vx::remove_transfer_view(run->transfer);
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
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) static_cast<void>(::sigaction(signal_number, &action, nullptr));
  static_cast<void>(::signal(SIGPIPE, SIG_IGN));
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
      trace("hidden");
      return;
    }
    trace(vxw::bar_label(state));
    bar_.value(static_cast<float>(state.percent));
    bar_.copy_label(vxw::bar_label(state).c_str());
    if (!bar_.visible()) bar_.show();
  }

  // Before a run: the bar hidden, in its own colours again.
  void reset_bar() {
    bar_.selection_color(kBarColor);
    bar_.color(FL_BACKGROUND2_COLOR);
    bar_.hide();
    if (label_shown_) draw_loading_label(false);
    redraw();
  }

  // After a failure: the bar in red where the run stopped (empty when no bar was shown), so the
  // strip says where that was.
  void show_failure(const vxw::BarState& stopped) {
    if (!label_shown_) draw_loading_label(true);
    bar_.selection_color(kFailColor);
    bar_.color(kFailTroughColor);  // the unfilled part pale red: the place stays visible
    bar_.value(static_cast<float>(stopped.percent));
    // A run that failed before any bar (a port that can't be opened) has no place to name.
    bar_.copy_label(stopped.shown ? (vxw::bar_label(stopped) + " - " + kStoppedText).c_str() : kStoppedText);
    trace(std::string("failed ") + bar_.label());
    bar_.show();
    redraw();
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

  void trace(const std::string& line) {
    static const char* const kTraceFile = std::getenv("VEXALW_BAR_TRACE");
    if (kTraceFile == nullptr || *kTraceFile == '\0') return;
    if (std::FILE* file = std::fopen(kTraceFile, "a")) {
      std::fprintf(file, "%s\n", line.c_str());
      static_cast<void>(std::fclose(file));
    }
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
    fl_draw(vx::kWindowLoadingText, kLabelLeft, kLabelTop, width, height, FL_ALIGN_CENTER, nullptr, 0);
    fl_pop_clip();
    fl_end_offscreen();
  }

  int font_size_;                 // the console font's size (the face is FLTK's Courier)
  Fl_Progress bar_;               // the progress bar; hidden while no command file runs
  Fl_Offscreen back_buffer_ = 0;  // the back buffer: the whole client area
  bool label_shown_ = false;
};

// ---- the end box --------------------------------------------------------------------------------

// A green disc with a white tick for a run that passed, a red one with a white cross otherwise.
class OutcomeIcon : public Fl_Widget {
 public:
  OutcomeIcon(int x, int y, int size, bool passed) : Fl_Widget(x, y, size, size), passed_(passed) {}

 protected:
  void draw() override {
    fl_color(passed_ ? kPassColor : kFailColor);
    fl_pie(x(), y(), w(), h(), 0, 360);
    fl_color(FL_WHITE);
    fl_line_style(FL_SOLID | FL_CAP_ROUND, kMarkWidth);
    const int quarter = w() / 4;
    const int left = x() + quarter, right = x() + w() - quarter, top = y() + quarter, bottom = y() + h() - quarter;
    if (passed_) {
      fl_line(left, y() + h() / 2, x() + w() * 5 / 12, bottom - quarter / 3, right, top + quarter / 3);
    } else {
      fl_line(left, top, right, bottom);
      fl_line(left, bottom, right, top);
    }
    fl_line_style(0);
  }

 private:
  bool passed_;
};

void on_end_box_dismiss(Fl_Widget* widget, void*) {
  Fl_Window* box = widget->as_window() ? widget->as_window() : widget->window();
  box->hide();
}

bool passed(int code) { return code == 0; }

// "Vexal has finished", then the exit code and what it means.
std::string end_text(int code) {
  return std::string(vx::kWindowEndText) + "\n\nExit code " + std::to_string(code) + ": " + vx::exit_code_meaning(code);
}

// Its own small window rather than fl_alert: an FLTK modal box would swallow the main window's close
// request, and closing the main window must end the program while the box is up too.
class EndBox : public Fl_Window {
 public:
  // With `offer_again` its buttons are Again (Return) and Close; else OK alone.
  EndBox(const Fl_Window& over, int code, bool offer_again)
      : Fl_Window(over.x() + (over.w() - kBoxWidth) / 2, over.y() + (over.h() - kBoxHeight) / 2, kBoxWidth, kBoxHeight,
                  vx::kWindowEndCaption),
        icon_(kIconX, kIconY, kIconSize, passed(code)),
        verdict_(kVerdictX, kVerdictY, kVerdictWidth, kVerdictHeight, passed(code) ? "PASS" : "FAIL"),
        text_(kTextX, kTextY, kTextWidth, kTextHeight),
        ok_(kBoxWidth - kOkWidth - kOkMargin, kBoxHeight - kOkHeight - kOkMargin, kOkWidth, kOkHeight,
            offer_again ? "Again" : "OK"),
        close_(kBoxWidth - 2 * (kOkWidth + kOkMargin), kBoxHeight - kOkHeight - kOkMargin, kOkWidth, kOkHeight,
               "Close") {
    verdict_.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    verdict_.labelfont(FL_HELVETICA_BOLD);
    verdict_.labelsize(kVerdictFontSize);
    verdict_.labelcolor(passed(code) ? kPassColor : kFailColor);
    text_.copy_label(end_text(code).c_str());
    text_.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    text_.labelsize(kTextFontSize);
    ok_.callback(offer_again ? on_again : on_end_box_dismiss, this);
    close_.callback(on_end_box_dismiss);
    if (!offer_again) close_.hide();
    end();
    set_non_modal();
    xclass(kAppName);
    callback(on_end_box_dismiss);
  }

  bool again() const { return again_; }

 private:
  static void on_again(Fl_Widget*, void* self) {
    static_cast<EndBox*>(self)->again_ = true;
    static_cast<EndBox*>(self)->hide();
  }

  OutcomeIcon icon_;
  Fl_Box verdict_;
  Fl_Box text_;
  Fl_Return_Button ok_;
  Fl_Button close_;
  bool again_ = false;
};

// ---- the --choose dialog --------------------------------------------------------------------------

constexpr char kChooseCaption[] = "VexalW - start a run";
constexpr int kDialogWidth = 620, kDialogHeight = 190;
constexpr int kFieldX = 110, kFieldWidth = 390, kFieldHeight = 28, kRowPitch = 40, kFirstRow = 16;
constexpr int kBrowseX = 510, kBrowseWidth = 96;
constexpr int kDialogButtonWidth = 96, kDialogButtonHeight = 30, kDialogMargin = 14;
constexpr char kFilePattern[] = "Firmware and command files (*.{s28,s19,s37,srec,mot,txt,cmd})\tAll files (*)";

// A menu item's text taken literally: FLTK's menus read '/' as a submenu, '\\' and '&' as marks.
std::string menu_literal(const std::string& text) {
  std::string literal;
  for (char c : text) {
    if (c == '/' || c == '\\') literal += '\\';
    if (c == '&') literal += '&';
    literal += c;
  }
  return literal;
}

// Port (a list from the ports found, or a device typed in), file (typed, or through a file chooser),
// baud rate; Start, or Close (the window's close too) for no run.
class ChooseDialog : public Fl_Window {
 public:
  ChooseDialog(const vxw::Choices& last, const std::vector<vx::SerialPortInfo>& ports)
      : Fl_Window(kDialogWidth, kDialogHeight, kChooseCaption),
        port_(kFieldX, kFirstRow, kFieldWidth + kBrowseWidth + kDialogMargin - 4, kFieldHeight, "Port:"),
        file_(kFieldX, kFirstRow + kRowPitch, kFieldWidth, kFieldHeight, "File:"),
        browse_(kBrowseX, kFirstRow + kRowPitch, kBrowseWidth, kFieldHeight, "Browse..."),
        baud_(kFieldX, kFirstRow + 2 * kRowPitch, kDialogButtonWidth + 20, kFieldHeight, "Baud rate:"),
        start_(kDialogWidth - kDialogButtonWidth - kDialogMargin, kDialogHeight - kDialogButtonHeight - kDialogMargin,
               kDialogButtonWidth, kDialogButtonHeight, "Start"),
        close_(kDialogWidth - 2 * (kDialogButtonWidth + kDialogMargin),
               kDialogHeight - kDialogButtonHeight - kDialogMargin, kDialogButtonWidth, kDialogButtonHeight, "Close") {
    // The last choice, shown with its by-id name when it is listed; without one, the first port with a
    // by-id name (a USB adapter, most likely the board's).
    std::string offered = last.port;
    for (const vx::SerialPortInfo& port : ports) {
      port_.add(menu_literal(vxw::port_entry(port)).c_str());
      if ((offered.empty() && !port.by_id.empty()) || offered == port.device) offered = vxw::port_entry(port);
    }
    port_.value(offered.c_str());
    file_.value(last.file.c_str());
    browse_.callback(on_browse, this);
    for (int rate : vx::kBaudRates) {
      baud_.add(std::to_string(rate).c_str());
      if (rate == last.baud) baud_.value(baud_.size() - 2);  // size() counts the menu's end mark
    }
    start_.callback(on_start, this);
    close_.callback(on_close, this);
    end();
    xclass(kAppName);
    callback(on_close, this);
  }

  // Shows the dialog until Start or Close; the choices when started.
  std::optional<vxw::Choices> ask() {
    show();
    while (shown()) Fl::wait();
    if (!started_) return std::nullopt;
    return vxw::Choices{vxw::device_of_entry(port_.value()), file_.value(),
                        vx::kBaudRates[static_cast<std::size_t>(std::max(baud_.value(), 0))]};
  }

 private:
  static void on_browse(Fl_Widget*, void* self) {
    auto* dialog = static_cast<ChooseDialog*>(self);
    if (const char* picked = fl_file_chooser("Firmware or command file", kFilePattern, dialog->file_.value()))
      dialog->file_.value(picked);
  }
  static void on_start(Fl_Widget*, void* self) {
    static_cast<ChooseDialog*>(self)->started_ = true;
    static_cast<ChooseDialog*>(self)->hide();
  }
  static void on_close(Fl_Widget*, void* self) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    static_cast<ChooseDialog*>(self)->hide();
  }

  Fl_Input_Choice port_;
  Fl_Input file_;
  Fl_Button browse_;
  Fl_Choice baud_;
  Fl_Return_Button start_;
  Fl_Button close_;
  bool started_ = false;
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

// True when the person asked for the run again.
bool show_end_box(ConsoleWindow& window, const Gui& gui, int code, bool offer_again) {
  gui.refresh_console();  // the "Exit code" line stands before the box comes up
  gui.refresh_bar();
  if (!passed(code)) window.show_failure(gui.mailbox->stopped_at());
  EndBox box(window, code, offer_again);
  box.show();
  while (box.shown()) wait_for_events();
  return box.again();
}

bool open_gui() {
  if (Fl::lock() != 0) {
    vx::diagnostic("vexalw: FLTK was built without thread support");
    return false;
  }
  fl_open_display();
  catch_end_signals();
  return true;
}

// Runs the loader with `args` in the window; with `offer_again` as often as the person asks.
int run_window(const vx::RunRequest& request, bool offer_again) {
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
  Fl::add_timeout(kTickSeconds, on_tick, &gui);

  bool again = true;
  while (again) {
    window.reset_bar();
    mailbox.clear();
    LoaderRun run;
    run.request = request;
    run.progress = &mailbox;
    run.transfer = &mailbox;
    run.gui = &gui;
    if (!run_loader_in_window(run)) return kStartupFailure;
    again = show_end_box(window, gui, run.code, offer_again);
  }
  Fl::remove_timeout(on_tick, &gui);
  return 0;
}

// The dialog's choices (kept for the next time), or nothing when it was closed.
std::optional<std::vector<std::string>> chosen_arguments(const vx::PortListRoots& roots) {
  const std::string path = vxw::choices_path(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  ChooseDialog dialog(vxw::load_choices(path), vx::list_serial_ports(roots));
  std::optional<vxw::Choices> choices = dialog.ask();
  if (!choices) return std::nullopt;
  std::string why;
  if (!vxw::save_choices(path, *choices, why)) vx::diagnostic("vexalw: the choices are not kept: " + why);
  return vxw::job_arguments(*choices);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = vx::program_name(argc > 0 ? argv[0] : nullptr, "vexalw");
  std::vector<std::string> args(argv + 1, argv + argc);
  const vx::RunSettings settings = vx::settings_from_environment();
  const bool choose = args == std::vector<std::string>{kChooseOption};
  if (!choose) {
    const vx::ProgramStart start = vx::start_program(args, program, settings, kChooseUsage);
    if (start.answer) {  // --help, --version and --list-ports need no window
      std::fputs(start.answer->c_str(), stdout);
      return kDone;
    }
  }
  if (!open_gui()) return kStartupFailure;
  if (choose) {
    std::optional<std::vector<std::string>> chosen = chosen_arguments(settings.port_roots);
    if (!chosen) return kDone;
    args = std::move(*chosen);
  }
  return run_window(vx::start_program(args, program, settings).run, choose);
}
