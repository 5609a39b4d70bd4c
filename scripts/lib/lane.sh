# A lane of builds in the background: sourced by bash.
#
# Most of the test phases wait on serial lines, simulators and wine, and leave the processors idle; the
# builds the later phases need are CPU work. So the builds run one after another in a background lane at
# the lowest priority (SCHED_IDLE and the idle I/O class where the system allows it, nice 19 otherwise):
# they take only the time the tests leave over, and a test's timing sees the machine as before.
#
#   lane_step NAME COMMAND...    (in the lane's function) runs COMMAND, its output in the lane's folder;
#                                marks NAME done or failed, and returns COMMAND's status
#   lane_start FUNCTION          runs FUNCTION in the background as the lane, in a scratch folder
#   lane_await NAME [SECONDS]    waits until step NAME is marked (default bound 3600 s, a guard against
#                                a hang); prints its output and its wall time; returns 1 when it failed,
#                                when the lane ended without reaching it, or past the bound
#   lane_stop                    ends the lane if it still runs (for an EXIT trap)
LANE_DIR=
LANE_PID=

lane_step() {
  local name=$1 started=$SECONDS status=0
  shift
  "$@" >"$LANE_DIR/$name.log" 2>&1 || status=$?
  echo "$((SECONDS - started))" >"$LANE_DIR/$name.seconds"
  if [[ $status -eq 0 ]]; then touch "$LANE_DIR/$name.done"; else touch "$LANE_DIR/$name.failed"; fi
  return "$status"
}

# lane_lower_priority: the calling shell, and so all it starts, yields the processors and the disk to
# every other process.
lane_lower_priority() {
  chrt --idle -p 0 "$BASHPID" 2>/dev/null || renice -n 19 -p "$BASHPID" >/dev/null
  ionice -c 3 -p "$BASHPID" 2>/dev/null || true
}

lane_start() {
  LANE_DIR=$(mktemp -d)
  (
    lane_lower_priority
    "$1"
  ) &
  LANE_PID=$!
}

lane_await() {
  local name=$1 tenths=$((${2:-3600} * 10))
  local mark=$LANE_DIR/$name
  for _ in $(seq "$tenths"); do
    [[ -e $mark.done || -e $mark.failed ]] && break
    kill -0 "$LANE_PID" 2>/dev/null || break
    sleep 0.1
  done
  [[ -e $mark.log ]] && cat "$mark.log"
  if [[ -e $mark.done ]]; then
    echo "($name: built in the background in $(cat "$mark.seconds") s)"
    return 0
  fi
  if [[ -e $mark.failed ]]; then echo "Error: the background step $name failed"; else
    echo "Error: the background step $name did not end"; fi
  return 1
}

# lane_kill_tree PID: PID and everything it started, each parent before its children, so that a build
# tool gone from under its jobs starts no new ones.
lane_kill_tree() {
  local children child
  children=$(pgrep -P "$1" || true)
  kill "$1" 2>/dev/null || true
  for child in $children; do lane_kill_tree "$child"; done
}

lane_stop() {
  [[ -n $LANE_PID ]] && lane_kill_tree "$LANE_PID"
  [[ -n $LANE_DIR ]] && rm -rf "$LANE_DIR"
  return 0
}
