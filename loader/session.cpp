#include "loader/session.h"

#include <cstdlib>

#include "console/events.h"
#include "console/exit_code.h"
#include "console/outcome.h"
#include "console/transfer.h"
#include "loader/args.h"
#include "loader/cli.h"
#include "loader/run.h"
#include "serial/port.h"

#ifdef _WIN32
#include <process.h>
#define vx_getpid _getpid
#else
#include <unistd.h>
#define vx_getpid getpid
#endif

namespace vx {
namespace {

constexpr char kCom1[] = "COM1";
constexpr std::string_view kErrorWord = "Error:";

int run_loader(const std::vector<std::string>& loader_args) {
  ArgVector av;
  std::string error;
  if (!args_from_list(loader_args, av, error)) return refuse_run(error);
  return wvexal(av.argc(), av.argv());
}

std::string events_target() {
  const char* where = std::getenv("VEXAL_EVENTS");
  return where ? where : "";
}

// The hooks around one run, taken down on every way out (an internal failure throws through here).
class SessionHooks {
 public:
  SessionHooks(EventChannel& events, ErrorLineWatch& watch, ConsoleTap tap) : events_(events) {
    add_transfer_view(&events_);
    console_set_tap([&watch, tap = std::move(tap)](char c) {
      watch.putc(c);
      if (tap) tap(c);
    });
  }
  ~SessionHooks() {
    console_set_tap(nullptr);
    remove_transfer_view(&events_);
  }
  SessionHooks(const SessionHooks&) = delete;
  SessionHooks& operator=(const SessionHooks&) = delete;

 private:
  EventChannel& events_;
};

}  // namespace

std::string RunOutcome::error_summary() const {
  std::string_view message = error;
  if (message.starts_with(kErrorWord)) message.remove_prefix(kErrorWord.size());
  while (message.starts_with(" ")) message.remove_prefix(1);
  return detail.empty() ? std::string(message) : detail;
}

void report_refused_session(const std::string& port, const std::string& error) {
  set_port_device(kCom1, port);
  EventChannel events(events_target());
  events.start(kVexalVersion, platform_port_device(kCom1), static_cast<long>(vx_getpid()));
  events.end(exit_status(ExitCode::ArgumentsRefused), error, 0, Micros(0));
}

RunOutcome run_session(const std::vector<std::string>& loader_args, const std::string& port, ConsoleTap tap,
                       const std::function<void()>& plug_in) {
  fresh_run();
  if (plug_in) plug_in();
  transfer_reset();  // the run's clock starts with the clock the front-end chose
  set_port_device(kCom1, port);
  EventChannel events(events_target());
  events.start(kVexalVersion, platform_port_device(kCom1), static_cast<long>(vx_getpid()));
  ErrorLineWatch watch;
  RunOutcome outcome;
  {
    SessionHooks hooks(events, watch, std::move(tap));
    outcome.code = run_loader(loader_args);
  }
  if (outcome.code != 0) {
    outcome.error = watch.error_text();
    outcome.detail = error_detail();
  }
  outcome.bytes = transfer_bytes_moved();
  outcome.run_time = transfer_run_time();
  events.end(outcome.code, outcome.error, outcome.bytes, outcome.run_time);
  return outcome;
}

}  // namespace vx
