#include "loader/session.h"

#include <cstdlib>

#include "console/events.h"
#include "console/outcome.h"
#include "console/transfer.h"
#include "loader/args.h"
#include "loader/cli.h"
#include "loader/run.h"
#include "loader/state.h"
#include "serial/port.h"
#include "serial/port_list.h"
#include "serial/port_url.h"

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
constexpr char kCom2[] = "COM2";
constexpr std::string_view kErrorWord = "Error:";

int run_loader(const std::vector<std::string>& loader_args) {
  ArgVector av;
  std::string error;
  if (!args_from_list(loader_args, av, error)) return refuse_run(error);
  return wvexal(av.argc(), av.argv());
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
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

// A device named by URL must be a good URL before anything is opened; "" when every one is (or none is
// a URL), naming the option or the environment variable that gave the bad one.
std::string url_refusal(const LinkSettings& link, const std::string& port_option) {
  std::string why;
  if (!port_option.empty() && is_port_url(port_option) && !parse_port_url(port_option, why))
    return "--port " + port_option + ": " + why;
  for (const auto& [com, device] : link.environment_devices)
    if (is_port_url(device) && !parse_port_url(device, why)) return "VEXAL_" + com + "=" + device + ": " + why;
  return {};
}

}  // namespace

std::string RunOutcome::error_summary() const {
  std::string_view message = error;
  if (message.starts_with(kErrorWord)) message.remove_prefix(kErrorWord.size());
  while (message.starts_with(" ")) message.remove_prefix(1);
  return detail.empty() || detail_said ? std::string(message) : detail;
}

RunStart run_start() {
  return RunStart{kVexalVersion, platform_port_device(kCom1), static_cast<long>(vx_getpid()), utc_timestamp()};
}

RunSettings settings_from_environment() {
  RunSettings settings;
  for (const char* com : {kCom1, kCom2})
    if (std::string device = environment((std::string("VEXAL_") + com).c_str()); !device.empty())
      settings.link.environment_devices[com] = device;
  settings.link.full_window = environment("VEXAL_WINDOW") == "full";
  settings.link.trace_path = environment("VEXAL_TRACE");
  if (std::string dev = environment("VEXAL_DEV_ROOT"); !dev.empty()) settings.port_roots.dev = dev;
  if (std::string sysfs = environment("VEXAL_SYSFS_ROOT"); !sysfs.empty()) settings.port_roots.sysfs = sysfs;
  settings.events_target = environment("VEXAL_EVENTS");
  return settings;
}

ProgramStart start_program(const std::vector<std::string>& args, const std::string& program,
                           const RunSettings& settings, std::string_view own_options) {
  const CommandLine cl = parse_command_line(args);
  ProgramStart start;
  start.run.settings = settings;
  start.quiet = cl.quiet;
  if (!cl.port.empty()) start.run.settings.link.named_devices[kCom1] = cl.port;
  using A = CommandLine::Action;
  switch (cl.action) {
    case A::Help: start.answer = usage_text(program, own_options); break;
    case A::Version: start.answer = version_text(program); break;
    case A::ListPorts:
      start.answer = std::string();
      for (const SerialPortInfo& port : list_serial_ports(settings.port_roots))
        *start.answer += port_list_line(port) + "\n";
      break;
    case A::Refused:
      start.run.refusal = "Error: " + cl.refusal;
      start.run.hint = " (see '" + program + " --help')";
      break;
    case A::Run:
      if (std::string refusal = url_refusal(settings.link, cl.port); !refusal.empty()) {
        start.run.refusal = "Error: " + refusal;
        start.run.hint = " (see '" + program + " --help')";
        break;
      }
      start.run.loader_args = cl.loader_args;
      start.run.ignore_checksums = cl.ignore_checksums;
      break;
  }
  return start;
}

ProgramStart refused_program(const std::string& refusal, const RunSettings& settings) {
  ProgramStart start;
  start.run.settings = settings;
  start.run.refusal = refusal;
  return start;
}

RunOutcome run_session(const RunRequest& request, ConsoleTap tap, const std::function<void()>& plug_in) {
  fresh_run();
  if (plug_in) plug_in();
  loader_state().ignore_checksums = request.ignore_checksums;
  transfer_reset();  // the run's clock starts with the clock the front-end chose
  set_link_settings(request.settings.link);
  EventChannel events(request.settings.events_target);
  events.start(run_start());
  ErrorLineWatch watch;
  RunOutcome outcome;
  {
    SessionHooks hooks(events, watch, std::move(tap));
    outcome.code = request.refused() ? refuse_run(request.refusal + request.hint) : run_loader(request.loader_args);
  }
  if (outcome.code != 0) {
    outcome.error = request.refused() ? request.refusal : watch.error_text();
    outcome.detail = error_detail();
    outcome.detail_said = error_detail_said();
  }
  outcome.counts = transfer_counts();
  outcome.run_time = transfer_run_time();
  events.end(RunEnd{outcome.code, outcome.error, outcome.detail, outcome.counts, outcome.run_time, utc_timestamp()});
  return outcome;
}

}  // namespace vx
