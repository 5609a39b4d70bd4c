#!/usr/bin/env bash
# The station's window at scale: BOARDS boards loading at once (the station's fake vexal, one progress
# event a board every STEP seconds) shown in the window on a virtual display, beside the same run with
# the plain log. Printed: the wall time, the station's own processor time (from its report) and its
# share of one core, for each, and the window's cost as the difference.
#
#   bench/station_window.sh BIN_DIR [BOARDS [KIB [STEP]]]       defaults: 32 boards, 48 KiB, 0.1 s
#
# Target: the window run's share under 5 % of one core (printed, not judged). Needs Xvfb.
set -uo pipefail

BIN=$(cd "${1:?usage: station_window.sh BIN_DIR [BOARDS [KIB [STEP]]]}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
BOARDS=${2:-32}
KIB=${3:-48}
STEP=${4:-0.1}
FAKE=$SOURCE/tests/station/fake_vexal.py
command -v Xvfb >/dev/null || { echo "Xvfb is needed (package xvfb)"; exit 1; }
WORK=$(mktemp -d /tmp/vexal-bench-window-XXXXXX)
XVFB_PID=
STATION_PID=
cleanup() {
  [[ -n $STATION_PID ]] && kill "$STATION_PID" 2>/dev/null
  [[ -n $XVFB_PID ]] && kill "$XVFB_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

ports=()
for i in $(seq -w 1 "$BOARDS"); do
  printf 'bytes=%d\nstep=%s\n' $((KIB * 1024)) "$STEP" >"$WORK/b$i"
  ports+=("$WORK/b$i")
done
PORTS=$(IFS=,; echo "${ports[*]}")

exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
XVFB_PID=$!
read -r -t 20 number <&"$display_fd" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$number

cpu_of() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["station"]["cpu_seconds"])' "$1"; }

# run NAME OPTIONS...: the station on every board; sets WALL and CPU. A window stays after the end,
# so the run is over when the summary is in the log; the window is then ended.
run() {
  local name=$1 start
  shift
  start=$(date +%s.%N)
  "$BIN/vexal-station" --vexal "$FAKE" --ports "$PORTS" --report "$WORK/$name.json" "$@" -- fw.s28 \
    >"$WORK/$name.log" 2>&1 &
  STATION_PID=$!
  until grep -q ' passed, [0-9]* failed' "$WORK/$name.log" 2>/dev/null || ! kill -0 "$STATION_PID" 2>/dev/null; do
    sleep 0.1
  done
  WALL=$(echo "$(date +%s.%N) - $start" | bc -l)
  sleep 0.5  # the report is written right after the summary
  kill "$STATION_PID" 2>/dev/null
  wait "$STATION_PID" 2>/dev/null
  STATION_PID=
  CPU=$(cpu_of "$WORK/$name.json")
  printf '  %-8s %9.2f s %11.3f s %7.2f %%\n' "$name" "$WALL" "$CPU" "$(echo "100 * $CPU / $WALL" | bc -l)"
}

echo "vexal-station --window: $BOARDS boards loading $KIB KiB each, a progress event every $STEP s a board"
echo "  on $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) before the run"
echo "  display       wall   station CPU   share of one core"
run log
LOG_CPU=$CPU
run window --window
printf '  the window costs %.3f s of processor time more than the log; target: its share under 5 %%\n' \
  "$(echo "$CPU - $LOG_CPU" | bc -l)"
