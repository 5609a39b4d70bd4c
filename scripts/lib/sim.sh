# The board simulator for the scripts (tests, bench, examples, packaging): sourced by bash.
#
#   sim_start PROGRAM LINK OUT ERR [simulator options...]
#       starts the simulator PROGRAM serving a pseudo-terminal that LINK points to (an older LINK is
#       removed first), its standard output to OUT and standard error to ERR, and waits until the link
#       stands; its process id in SIM_PID. When the link does not come within SIM_START_SECONDS
#       (default 10), says so with what the simulator wrote to ERR, ends it and returns 1.
#   sim_stop
#       ends the simulator (SIGTERM, so it writes its dump and removes its link) and waits for it;
#       returns its status (0 when none runs).
#
# The simulator runs with file descriptor 9 closed: the Win32 scripts hold their wine prefix's lock
# there, and a simulator that kept it would hold the lock after they end.

SIM_PID=
SIM_POLL_STEP=0.02

sim_start() {
  local program=$1 link=$2 out=$3 err=$4
  shift 4
  rm -f "$link"
  "$program" --link "$link" "$@" >"$out" 2>"$err" 9>&- &
  SIM_PID=$!
  local polls
  polls=$(awk -v s="${SIM_START_SECONDS:-10}" -v step="$SIM_POLL_STEP" 'BEGIN { printf "%d", s / step }')
  for _ in $(seq "$polls"); do
    [[ -e $link ]] && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep "$SIM_POLL_STEP"
  done
  echo "vq3140-sim did not come up: $(cat "$err" 2>/dev/null)"
  sim_stop
  return 1
}

sim_stop() {
  [[ -n $SIM_PID ]] || return 0
  local status=0
  kill -TERM "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || status=$?
  SIM_PID=
  return $status
}
