// vexal-station: one vexal job on many boards at once (see station.h for how it runs, options.h for
// its command line). Usage errors end with status 2 before anything is started.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "frontends/station/history.h"
#include "frontends/station/model/report.h"
#include "frontends/station/options.h"
#include "frontends/station/os/child.h"
#include "frontends/station/os/ports.h"
#include "frontends/station/production.h"
#include "frontends/station/run_record.h"
#include "frontends/station/station.h"
#include "frontends/station/views/display.h"
#include "frontends/station/views/window.h"
#include "vexal_version.h"

namespace {

using namespace vx::station;

constexpr const char* kDefaultDevRoot = "/dev";

int usage_error(const std::string& why) {
  std::fprintf(stderr, "vexal-station: %s\n", why.c_str());
  return kUsageStatus;
}

// What can be checked before a job runs and isn't a matter of the options alone; "" when all is well.
std::string setup_problem(const Options& options) {
  std::string repeated = repeated_port(options.ports);
  if (!repeated.empty()) return "the port " + repeated + " is given twice";
  for (const std::string& report : {options.report_file, options.junit_file}) {
    std::string problem = report.empty() ? std::string() : report_target_problem(report);
    if (!problem.empty()) return problem;
  }
  std::error_code error;
  if (!options.logs_dir.empty() && !std::filesystem::is_directory(options.logs_dir, error) &&
      !std::filesystem::create_directories(options.logs_dir, error))
    return "can't make the log folder " + options.logs_dir + ": " + error.message();
  return {};
}

// The job's arguments as one line, for the window's header.
std::string job_line(const std::vector<std::string>& job) {
  std::string line;
  for (const std::string& argument : job) line += (line.empty() ? "" : " ") + argument;
  return line;
}

StationSetup setup_from(const Options& options, UnitKeeper* units) {
  const char* dev_root = std::getenv("VEXAL_DEV_ROOT");
  return StationSetup{options, options.vexal.empty() ? default_vexal() : options.vexal,
                      dev_root != nullptr && *dev_root != '\0' ? dev_root : kDefaultDevRoot, vx::kVexalVersion, units};
}

// The run's unit values and record: the database opened and brought up to date, its pools declared, an
// earlier run's journal replayed. Nothing when the run keeps none; false with the reason when the
// database can't be used, so that no board starts.
struct UnitRun {
  UnitSetup setup;
  std::unique_ptr<UnitStore> store;
  std::unique_ptr<UnitKeeper> keeper;

  bool open(const Options& options, std::string& why) {
    if (!load_unit_setup(options, setup, why)) return false;
    if (setup.db.empty()) return true;
    const std::string host = host_name();
    store = open_store(setup.db, why);
    if (!store || !store->prepare(setup.pools, host, why)) return false;
    keeper = std::make_unique<UnitKeeper>(setup, *store, Attendant{options.station, options.operator_name, host},
                                          job_line(options.job));
    return keeper->open(why);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args.front() == "history") return run_history({args.begin() + 1, args.end()}, stdout);
  Options options;
  std::string why;
  std::vector<std::string> expanded;
  if (!expand_production(args, expanded, why)) return usage_error(why);
  if (!parse_options(expanded, options, why)) return usage_error(why);
  if (options.help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("vexal-station %s\n", vx::kVexalVersion);
    return 0;
  }
  why = setup_problem(options);
  if (!why.empty()) return usage_error(why);
  UnitRun units;
  if (!units.open(options, why)) return usage_error(why);
  ::signal(SIGPIPE, SIG_IGN);  // a closed standard output must not end the station while boards run
  std::unique_ptr<Display> display;
  if (options.window) {
    display = make_window_display(make_display(stdout, false, {}), job_line(options.job), why);
    if (!display) return usage_error(why);
  } else {
    const bool live = ::isatty(STDOUT_FILENO) == 1;
    display = make_display(stdout, live, [] { return terminal_size(STDOUT_FILENO); });
  }
  const int status = run_station(setup_from(options, units.keeper.get()), *display);
  display->linger();
  return status;
}
