// The jobs: the boards waiting for a slot, and the running boards' vexal processes and event pipes.
//
// A board is queued; when a slot is free (at most capacity() run at once) the station takes it from
// the queue and start() spawns its vexal (child.h) and watches its events pipe in an epoll set, so the
// loop waits on one descriptor (fd()) whatever the number of jobs, and read_ready() reads only the
// pipes that have something. A job ends when its vexal has been reaped (reap(), on SIGCHLD); what its
// pipe still held is read first, so no event is lost to the order of the two.
//
// The capacity: --jobs, and never more than the open-file limit allows (the soft limit is raised to
// the hard one first; each running job holds one descriptor, the read end of its pipe).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontends/station/model/events.h"
#include "frontends/station/os/child.h"

namespace vx::station {

// How many jobs may run at once, and what sets that number.
struct JobCapacity {
  std::size_t jobs = 0;
  bool set_by_option = false;  // --jobs, not the open-file limit
};

// --jobs (0: as many as can be) within the open-file limit, which is raised to its hard limit first.
JobCapacity job_capacity(unsigned wanted);

// An epoll set of descriptors, each tagged with a number; readable itself when one of them is.
class EpollSet {
 public:
  EpollSet() = default;
  ~EpollSet();
  EpollSet(const EpollSet&) = delete;
  EpollSet& operator=(const EpollSet&) = delete;

  bool open(std::string& why);  // false with the reason when the kernel refuses
  int fd() const { return fd_; }
  // False with the reason when the kernel refuses (out of memory): the descriptor is not watched.
  bool add(int fd, std::size_t tag, std::string& why);
  void remove(int fd);
  // The tags of up to `most` descriptors that are ready (never blocks).
  std::vector<std::size_t> ready(int most);

 private:
  int fd_ = -1;
};

class JobPool {
 public:
  // A line of a job's events, by board; a job's end, by board, with its wait status.
  using LineSink = std::function<void(std::size_t board, std::string_view line)>;
  using EndSink = std::function<void(std::size_t board, int wait_status)>;

  enum class Started {
    Watched,    // runs, its events are read as they come
    Unwatched,  // runs, but its pipe could not be watched (why says why): read only at its end
    Failed,     // could not be started (why says why)
  };

  explicit JobPool(JobCapacity capacity) : capacity_(capacity) {}

  bool open(std::string& why);  // the epoll set; false with the reason
  int fd() const { return pipes_.fd(); }
  const JobCapacity& capacity() const { return capacity_; }

  void enqueue(std::size_t board) { queue_.push_back(board); }
  // A board taken from the queue that is not to start after all goes back to its front.
  void requeue_first(std::size_t board) { queue_.push_front(board); }
  // The first waiting board, taken from the queue, when one waits and a slot is free.
  std::optional<std::size_t> next_to_start();
  // Every waiting board, in order; the queue is then empty.
  std::vector<std::size_t> take_waiting();
  bool none_waiting() const { return queue_.empty(); }

  std::size_t running() const { return running_.size(); }

  // Starts `program` with `args` for `board`, its console in `log_path` (child.h's spawn_job).
  Started start(std::size_t board, const std::string& program, const std::vector<std::string>& args,
                const std::string& log_path, std::string& why);

  // Reads the pipes that are ready, each line to `lines`.
  void read_ready(const LineSink& lines);

  // Reaps the jobs whose vexal ended: what each pipe still held goes to `lines`, then the job leaves
  // the pool and its end goes to `ended`.
  void reap(const LineSink& lines, const EndSink& ended);

  // Sends `sig` to every running job (its process group, else the process).
  void signal_all(int sig);

 private:
  struct RunningJob {
    Child child;
    EventLines lines;
    bool pipe_open = true;
  };
  void read_events(std::size_t board, RunningJob& job, const LineSink& lines);
  void close_events(RunningJob& job);

  JobCapacity capacity_;
  std::deque<std::size_t> queue_;              // boards waiting for a free slot
  std::map<std::size_t, RunningJob> running_;  // by board
  EpollSet pipes_;                             // the running jobs' event pipes, each tagged with its board
};

}  // namespace vx::station
