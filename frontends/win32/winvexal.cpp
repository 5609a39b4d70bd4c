// vexal.exe: the loader in its Win32 window.
//
// Start-up: the entry skips the program's own name on the command line and hands the rest to WinMain,
// which splits it at single spaces into the arguments (loader/args.h), registers the class "VexalW" and creates
// the 640 x 480 window. Its WM_CREATE makes the console font, the back buffer and the 200 ms timer.
// Then the worker thread runs the loader (run_session) and the GUI thread only pumps messages: each tick
// draws the console area from a snapshot of the console store (display), each paint copies the back
// buffer to the window.
//
// Only the GUI thread draws. The worker asks for the progress bar by sending messages to the window,
// so the bar control belongs to the thread that pumps messages: a control owned by the worker, which
// runs no loop, would never repaint after being covered, and destroying the main window would wait on
// it for ever while the worker sits in a serial wait. One thread drawing also means the back buffer and
// the window's device context are never used by two threads at once.
//
// Drawing calls that fail leave the picture as it was; the next tick or paint draws it all again, so
// a failed step only ends the drawing at that point and is never retried in a loop.
//
// The program starts as every front-end does (start_program and run_session, loader/session.h), after
// the command line is split: -P/--port names COM1's device ("COM7", "\\.\COM12"); --help, --version
// and --list-ports show their text in the console; any other argument with a dash before "--", and a
// command line beyond the split's limits, is refused there, before the port is opened; a run or a
// refusal writes the same events (VEXAL_EVENTS) as in the other front-ends.
//
// Ends: the loader's run ends in finish (the core prints "Exit code %d" and wvexal returns); the worker
// shows the message box, stops the console's repaint and calls exit(0). Closing the window ends the
// process at once through WM_DESTROY, wherever the worker is.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "loader/args.h"
#include "loader/cli.h"
#include "console/console.h"
#include "console/finish.h"
#include "loader/run.h"
#include "loader/session.h"
#include "console/progress.h"

namespace {

constexpr char szAppName[] = "VexalW";
constexpr char kTitle[] = "VexalW";
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;  // 0xCC0000
constexpr UINT kClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 480;
constexpr int kFontHeight = 17;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTickMs = 200;
constexpr SIZE_T kWorkerStack = 90000;
constexpr int kProgressStrip = 80;  // the bottom of the client area, below the console

constexpr char kProgressClass[] = "msctls_progress32";
constexpr RECT kLabelRect{20, 405, 95, 425};
constexpr int kBarX = 100, kBarY = 400, kBarWidth = 400, kBarHeight = 30;
constexpr int kBarFull = 100;

constexpr char kProgram[] = "vexal";  // the name its usage text and its refusals give

// What the worker asks of the GUI thread.
enum : UINT {
  WM_VEXAL_PBAR_SHOW = WM_APP + 1,
  WM_VEXAL_PBAR_SET,
  WM_VEXAL_PBAR_HIDE,
  WM_VEXAL_RUN_ENDED,
};

// Written before the worker starts and only read afterwards. The window procedure, which Windows calls
// with nothing of ours but the window, reaches them here, and so does the worker's progress.
HINSTANCE hInst;
HWND hwnd;

// The GUI thread's drawing objects, made by WM_CREATE and freed by WM_DESTROY; here for the same
// reason: only the window procedure uses them.
HFONT wtermfont, owtermfont;
HBITMAP bmp, oldbmp;
HDC hdcBuffer;
HWND hwndPB;

RECT console_area(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  r.bottom = std::max(r.top, r.bottom - kProgressStrip);
  return r;
}

// Copies a rectangle of the back buffer to the window.
void show_from_buffer(HWND w, const RECT& r) {
  HDC hdcWindow = GetDC(w);
  if (!hdcWindow) return;
  const int width = r.right - r.left, height = r.bottom - r.top;
  BitBlt(hdcWindow, r.left, r.top, width, height, hdcBuffer, r.left, r.top, SRCCOPY);  // see the header
  ReleaseDC(w, hdcWindow);
}

// The console area from a consistent copy of the console store: a tick never sees half an update.
void display() {
  if (!hdcBuffer) return;
  RECT area = console_area(hwnd);
  const vx::ConsoleSnapshot snap = vx::console_snapshot();
  if (!FillRect(hdcBuffer, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)))) return;
  if (!snap.text.empty() && !DrawTextA(hdcBuffer, snap.text.data(), static_cast<int>(snap.text.size()), &area, 0))
    return;
  show_from_buffer(hwnd, area);
}

bool create_back_buffer(HWND w) {
  HDC hdcWindow = GetDC(w);
  if (!hdcWindow) return false;
  RECT client{};
  GetClientRect(w, &client);
  wtermfont = CreateFontA(kFontHeight, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, OEM_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, nullptr);
  bmp = CreateCompatibleBitmap(hdcWindow, client.right, client.bottom);
  hdcBuffer = CreateCompatibleDC(hdcWindow);
  ReleaseDC(w, hdcWindow);
  if (!wtermfont || !bmp || !hdcBuffer) return false;
  oldbmp = static_cast<HBITMAP>(SelectObject(hdcBuffer, bmp));
  owtermfont = static_cast<HFONT>(SelectObject(hdcBuffer, wtermfont));
  FillRect(hdcBuffer, &client, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  return true;
}

void free_back_buffer() {
  if (!hdcBuffer) return;
  wtermfont = static_cast<HFONT>(SelectObject(hdcBuffer, owtermfont));
  SelectObject(hdcBuffer, oldbmp);
  DeleteDC(hdcBuffer);
  hdcBuffer = nullptr;
  DeleteObject(bmp);
  DeleteObject(wtermfont);
}

void paint(HWND w) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(w, &ps);
  if (!dc) return;
  RECT client{};
  GetClientRect(w, &client);
  BitBlt(dc, 0, 0, client.right, client.bottom, hdcBuffer, 0, 0, SRCCOPY);
  EndPaint(w, &ps);
}

// The label is drawn into the back buffer, where the next paint finds it, in the window's default
// font with the strip's colour showing between the letters.
void draw_label() {
  RECT r = kLabelRect;
  HGDIOBJ font = SelectObject(hdcBuffer, GetStockObject(SYSTEM_FONT));
  SetBkMode(hdcBuffer, TRANSPARENT);
  DrawTextA(hdcBuffer, vx::kWindowLoadingText, static_cast<int>(sizeof vx::kWindowLoadingText - 1), &r, DT_CENTER);
  SetBkMode(hdcBuffer, OPAQUE);
  SelectObject(hdcBuffer, font);
  show_from_buffer(hwnd, r);
}

void erase_label() {
  RECT r = kLabelRect;
  FillRect(hdcBuffer, &r, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  show_from_buffer(hwnd, r);
}

void show_bar() {
  if (hwndPB) return;
  draw_label();
  hwndPB = CreateWindowExA(0, kProgressClass, nullptr, WS_CHILD | WS_VISIBLE | WS_DLGFRAME, kBarX, kBarY, kBarWidth,
                           kBarHeight, hwnd, nullptr, hInst, nullptr);
  if (hwndPB) ShowWindow(hwndPB, SW_SHOW);  // without the control the label alone tells the file runs
}

void set_bar(int percent) {
  if (hwndPB) SendMessageA(hwndPB, PBM_SETPOS, static_cast<WPARAM>(std::clamp(percent, 0, kBarFull)), 0);
}

void hide_bar() {
  if (!hwndPB) return;
  DestroyWindow(hwndPB);
  hwndPB = nullptr;
  erase_label();
}

// The progress calls of the loader, on the worker thread: handed to the GUI thread, and waited for,
// so the bar moves in step with the lines.
class WindowProgress : public vx::ProgressView {
 public:
  void show(const std::string&) override { SendMessageA(hwnd, WM_VEXAL_PBAR_SHOW, 0, 0); }
  void set_position(int percent) override { SendMessageA(hwnd, WM_VEXAL_PBAR_SET, static_cast<WPARAM>(percent), 0); }
  void hide() override { SendMessageA(hwnd, WM_VEXAL_PBAR_HIDE, 0, 0); }
};

LRESULT on_destroy(HWND w) {
  if (hwndPB) DestroyWindow(hwndPB);
  free_back_buffer();
  KillTimer(w, kTimerId);
  ExitProcess(0);
}

LRESULT CALLBACK WndProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      if (!create_back_buffer(w) || !SetTimer(w, kTimerId, kTickMs, nullptr)) return -1;  // no window
      return 0;
    case WM_TIMER: display(); return 1;
    case WM_PAINT: paint(w); return 1;
    case WM_DESTROY: return on_destroy(w);
    case WM_VEXAL_PBAR_SHOW: show_bar(); return 1;
    case WM_VEXAL_PBAR_SET: set_bar(static_cast<int>(wParam)); return 1;
    case WM_VEXAL_PBAR_HIDE: hide_bar(); return 1;
    case WM_VEXAL_RUN_ENDED:
      // The process is about to run its exit handlers, which take the console store down: no more
      // ticks read it. The last state is drawn once more first.
      KillTimer(w, kTimerId);
      display();
      return 1;
    default: return DefWindowProcA(w, message, wParam, lParam);
  }
}

// The text of --help, --version or --list-ports in the console, ended as a run that did its work.
void show_answer(const std::string& text) {
  for (char c : text) vx::li_putc(c);
  if (text.empty() || text.back() != '\n') vx::li_putc('\n');
  vx::print_exit_code(vx::ExitCode::Done);
}

// The command line after the program's name, split at single spaces; beyond its limits it is refused.
vx::ProgramStart program_start(const std::string& command_line) {
  const vx::RunSettings settings = vx::settings_from_environment();
  std::vector<std::string> split;
  std::string refusal;
  if (!vx::split_command_line(command_line, split, refusal)) return vx::refused_program(refusal, settings);
  return vx::start_program(split, kProgram, settings);
}

DWORD WINAPI wvexal_thread(LPVOID parameter) {
  const vx::ProgramStart& start = *static_cast<const vx::ProgramStart*>(parameter);
  WindowProgress progress;  // the thread never returns: it ends the process
  if (start.answer) {
    vx::fresh_run();
    show_answer(*start.answer);
  } else {
    static_cast<void>(vx::run_session(start.run, nullptr, [&progress] { vx::set_progress_view(&progress); }));
  }
  // Without a box (MessageBoxA returns 0) there is nothing to wait for: the run ends as well.
  static_cast<void>(MessageBoxA(nullptr, vx::kWindowEndText, vx::kWindowEndCaption, MB_OK | MB_ICONEXCLAMATION));
  SendMessageA(hwnd, WM_VEXAL_RUN_ENDED, 0, 0);
  std::exit(0);
}

bool register_class(HINSTANCE hInstance) {
  WNDCLASSA wc{};
  wc.style = kClassStyle;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = hInstance;
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = szAppName;
  return RegisterClassA(&wc) != 0;
}

// Without a window there is nowhere to show the console: say so in a box and end.
int cannot_start(const char* what) {
  const std::string text =
      std::string("Error: can't ") + what + " (system error " + std::to_string(GetLastError()) + ")";
  MessageBoxA(nullptr, text.c_str(), vx::kWindowEndCaption, MB_OK | MB_ICONERROR);
  return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpszCmdParam, int nCmdShow) {
  hInst = hInstance;
  // Static: WinMain returns on a failed message loop while the worker may still be reading it.
  static const vx::ProgramStart start = program_start(lpszCmdParam);
  if (!hPrevInstance && !register_class(hInstance)) return cannot_start("register the window class");
  hwnd = CreateWindowExA(0, szAppName, kTitle, kWindowStyle, 0, 0, kWindowWidth, kWindowHeight, nullptr, nullptr,
                         hInstance, nullptr);
  if (!hwnd) return cannot_start("create the window");
  InitCommonControls();
  ShowWindow(hwnd, nCmdShow);
  UpdateWindow(hwnd);
  DWORD wvexalretval = 0;
  HANDLE hvexal =
      CreateThread(nullptr, kWorkerStack, wvexal_thread, const_cast<vx::ProgramStart*>(&start), 0, &wvexalretval);
  if (!hvexal) return cannot_start("start the loader's thread");
  MSG msg{};
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return cannot_start("read the window's messages");
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

// The entry: the command line after the program's name, as WinMain's lpszCmdParam.
int main() {
  std::string rest = vx::skip_program_name(GetCommandLineA());
  std::exit(WinMain(GetModuleHandleA(nullptr), nullptr, rest.data(), SW_SHOWNORMAL));
}
