// The station: runs one vexal per board, at most --jobs at a time, and follows each through its
// events until it ends.
//
// Everything happens on one thread in one poll loop (station.cpp): the signals (through a signalfd: SIGCHLD
// for ended jobs, SIGINT, SIGTERM, SIGHUP; os/signal_channel.h), every running job's event pipe (one epoll
// set, os/job_pool.h), and in watch mode the device watcher (watch_mode.h); the loop sleeps until one of them
// has something or something is due (the live table, a relist, a kill, the reports). What happens to each
// board is board_runs.h's; what each stop signal asks is model/stop_policy.h's; the reports are
// run_record.h's. A job ends when its vexal has been reaped; what its pipe still held is read first. The
// first Ctrl-C starts no more jobs (queued boards end as not started) and the station ends when the running
// jobs have ended; a second Ctrl-C, or SIGTERM / SIGHUP, passes SIGINT on to every running vexal; a third
// sends SIGTERM and, kKillGrace later, SIGKILL to the jobs still running. The signals are also taken while
// the ports are listed, so a Ctrl-C then stops the listing. Everything the station says goes through its
// display, standard error included (a refusal, a pool that ran out).
//
// Jobs run at once: --jobs, and never more than the open-file limit allows (the soft limit is raised
// to the hard one first; each running job holds one descriptor); the other boards wait their turn.
// Before any board runs, a job whose placeholders would give two boards one file is refused (job.h).
//
// With unit values (unit_keeper.h) a board's values are taken, committed, just before its vexal starts,
// and its attempt recorded when it ends. A pool that ran out, or a database that can't give a value,
// starts no more boards (the running ones finish, the waiting ones end as not started), and so does
// --limit N once N boards passed.
//
// In watch mode the ports are listed again (`vexal --list-ports`) when the device watcher reports a
// change, kSettle after the last change so that udev has made its links, and never sooner than
// kMinRelist after the last listing; where inotify can't be used the ports are listed every
// kFallbackRelist instead (model/relist_timer.h). Board preparation (the port listing for --all and
// --ports, the opening notes) is board_finder.h's.
#pragma once

#include <memory>
#include <string>

#include "frontends/station/options.h"
#include "frontends/station/unit_keeper.h"
#include "frontends/station/views/display.h"

namespace vx::station {

struct StationSetup {
  Options options;
  std::string vexal;     // the program run for every job and for the port listing
  std::string dev_root;  // watched in watch mode: $VEXAL_DEV_ROOT, else /dev
  std::string version;
  UnitKeeper* units = nullptr;  // the unit values and the record, when the run keeps them
};

// Runs the station to its end; the process's exit status (0 all boards passed, 1 otherwise).
int run_station(const StationSetup& setup, Display& display);

}  // namespace vx::station
