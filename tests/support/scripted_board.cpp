#include "tests/support/scripted_board.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "loader/args.h"
#include "console/console.h"
#include "console/diag.h"
#include "console/finish.h"
#include "loader/run.h"
#include "loader/state.h"
#include "console/lineview.h"
#include "protocol/frame.h"

namespace vx::test {

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

Bytes hex_bytes(const std::string& spaced_hex) {
  Bytes out;
  std::istringstream in(spaced_hex);
  std::string pair;
  while (in >> pair) out.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  return out;
}

std::string hex_string(const Bytes& b) {
  std::string s;
  char tmp[4];
  for (std::size_t i = 0; i < b.size(); ++i) {
    std::snprintf(tmp, sizeof tmp, i ? " %02X" : "%02X", b[i]);
    s += tmp;
  }
  return s;
}

namespace {
ScriptedBoard* g_installed = nullptr;

class ScriptedPort : public Port {
 public:
  explicit ScriptedPort(ScriptedBoard& board) : board_(board) {}
  bool write_frame(const std::uint8_t* data, std::size_t n, Millis) override {
    board_.before_request(data, n);
    board_.on_request(Bytes(data, data + n));
    return true;
  }
  std::size_t read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) override {
    return board_.read_window(buf, cap, window);
  }
  std::size_t unsolicited_bytes() const override { return board_.unsolicited_bytes(); }
  void listen_after_last_answer() override { board_.listen_after_last_answer(); }

 private:
  ScriptedBoard& board_;
};
}  // namespace

class ScriptedSource : public ByteSource {
 public:
  explicit ScriptedSource(ScriptedBoard& b) : b_(b) {}
  std::size_t read_some(std::uint8_t* buf, std::size_t n, Micros wait) override {
    auto& q = b_.queue_;
    if (q.empty() || q.front().at > b_.clock.now() + wait) {
      b_.clock.advance(wait);
      return 0;
    }
    b_.clock.advance_to(q.front().at);
    auto& front = q.front().bytes;
    std::size_t k = std::min(n, front.size());
    std::copy(front.begin(), front.begin() + static_cast<long>(k), buf);
    front.erase(front.begin(), front.begin() + static_cast<long>(k));
    if (front.empty()) q.erase(q.begin());
    return k;
  }

 private:
  ScriptedBoard& b_;
};

ScriptedBoard::ScriptedBoard()
    : source_(std::make_unique<ScriptedSource>(*this)), reader_(std::make_unique<AnswerReader>(*source_, clock)) {}

void ScriptedBoard::before_request(const std::uint8_t* request, std::size_t n) {
  reader_->settle(idle_interval(baud), request, n);
}
void ScriptedBoard::listen_after_last_answer() { reader_->listen_after_last_answer(idle_interval(baud)); }
std::size_t ScriptedBoard::unsolicited_bytes() const { return reader_->unsolicited_bytes(); }

ScriptedBoard::~ScriptedBoard() {
  if (g_installed == this) uninstall();
}

void ScriptedBoard::install() {
  g_installed = this;
  set_port_opener([this](const std::string& com, const LineSettings& s) {
    OpenResult r;
    if (open_fails) {
      r.why = "scripted board refuses to open";
      return r;
    }
    ++opens;
    opened_as = com;
    settings_seen = s;
    r.port = std::make_unique<ScriptedPort>(*this);
    return r;
  });
}

void ScriptedBoard::uninstall() {
  g_installed = nullptr;
  set_port_opener(nullptr);
}

std::string ScriptedBoard::request_text(const Bytes& frame) {
  if (frame.size() < ft12::kTextOffset + 2) return {};
  return std::string(frame.begin() + ft12::kTextOffset, frame.end() - 2);
}

std::vector<Chunk> ScriptedBoard::answer_text(const std::string& text) const {
  return {Chunk{answer_gap, ft12::text_answer(text)}};
}

std::vector<Chunk> ScriptedBoard::answer_by_rules(const Bytes& request) {
  std::string text = request_text(request);
  auto it = answers.find(text);
  if (it != answers.end()) {
    if (!it->second) return {};
    return answer_text(*it->second);
  }
  if (!text.empty() && (text[0] == 's' || text[0] == 'n')) return answer_text(block_answer);
  if (text.rfind("I000000", 0) == 0) return answer_text(identity);
  if (text.rfind("S8", 0) == 0) return answer_text(s8_answer);
  return answer_text(default_answer);
}

void ScriptedBoard::on_request(const Bytes& frame) {
  requests.push_back(frame);
  request_times.push_back(clock.now());
  // The request's own line time passes before the board can answer it.
  if (baud) clock.advance(Micros(static_cast<long>(frame.size()) * 10 * 1000000L / baud));
  std::vector<Chunk> chunks = handler ? handler(frame) : answer_by_rules(frame);
  // Each answer is timed from its own request, but never overtakes one still queued (the board sends
  // one frame after the other), and can't begin before the request has been received: its first byte
  // comes at least one character time after the request's last.
  const Micros one_char = baud ? Micros(10 * 1000000L / baud) : Micros(0);
  Micros t = clock.now();
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const Chunk& c = chunks[i];
    t += i == 0 ? std::max(c.gap, one_char) : c.gap;
    if (i == 0 && !queue_.empty()) t = std::max(t, queue_.back().at);
    queue_.push_back(Arrival{t, c.bytes});
  }
}

std::size_t ScriptedBoard::read_window(std::uint8_t* buf, std::size_t cap, const ReadWindow& window) {
  return reader_->read(buf, cap, window);
}

LoaderRun run_loader(const std::vector<std::string>& args, ScriptedBoard& board, ProgressView* progress,
                     const LinkSettings& settings, bool ignore_checksums, const ConsoleWatch& watch) {
  LoaderRun run;
  LineView view;
  fresh_run();
  set_link_settings(settings);
  loader_state().ignore_checksums = ignore_checksums;
  board.install();
  console_set_tap([&](char c) {
    run.stream.push_back(c);
    view.putc(c);
    if (watch) watch(run.stream);
  });
  set_diagnostic_sink([&](const std::string& line) { run.diagnostics.push_back(line); });
  set_progress_view(progress);
  ArgVector av;
  std::string error;
  if (!args_from_list(args, av, error)) throw std::runtime_error("test arguments refused: " + error);
  run.code = wvexal(av.argc(), av.argv());
  console_set_tap(nullptr);
  set_diagnostic_sink(nullptr);
  set_progress_view(nullptr);
  ScriptedBoard::uninstall();
  run.log = view.log_lines();
  return run;
}

std::vector<std::string> log_from_settings(const LoaderRun& run) {
  for (std::size_t i = 0; i < run.log.size(); ++i) {
    if (run.log[i].rfind("Serial UART port", 0) == 0 || run.log[i].rfind(" Use:", 0) == 0)
      return std::vector<std::string>(run.log.begin() + static_cast<long>(i), run.log.end());
  }
  return run.log;
}

// The system's temporary folder, so the tests run on Win32 too; create_directory fails on a name
// that exists, so a folder is never shared with another test run.
TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 pick(seed());
  for (int attempt = 0; path_.empty(); ++attempt) {
    if (attempt == 100) throw std::runtime_error("can't create a temporary folder");
    const auto candidate = std::filesystem::temp_directory_path() / ("vexal-test-" + std::to_string(pick()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.string();
  }
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream f(path_ + "/" + name, std::ios::binary);
  f << content;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream f(path_ + "/" + name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(path_ + "/" + name); }

}  // namespace vx::test
