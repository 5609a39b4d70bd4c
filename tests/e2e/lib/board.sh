# The board simulator for the end-to-end scripts: sourced after BIN (the folder of vexal and
# vq3140-sim) is set.
#
#   e2e_begin NAME     checks the programs, makes the work folder $WORK (/tmp/vexal-NAME-XXXXXX) and
#                      ends the board and removes $WORK when the script exits
#   start_sim [opts]   a fresh board on $WORK/com1, with the options in SIM_OPTIONS and then opts; the
#                      files of the previous board (sim.log, dump.bin) are removed first
#   stop_sim           ends the board (SIGTERM, so it writes its dump) and waits for it; its status
#
# The board's standard output goes to $WORK/sim.out, its standard error to $WORK/sim.err.

SIM_PID=
SIM_OPTIONS=()

e2e_begin() {
  local program
  for program in vexal vq3140-sim; do
    [[ -x $BIN/$program ]] || { echo "missing $BIN/$program"; exit 1; }
  done
  WORK=$(mktemp -d "/tmp/vexal-$1-XXXXXX")
  trap e2e_end EXIT
}

e2e_end() {
  stop_sim
  rm -rf "$WORK"
}

start_sim() {
  rm -f "$WORK/com1" "$WORK/sim.log" "$WORK/dump.bin"
  "$BIN/vq3140-sim" --link "$WORK/com1" "${SIM_OPTIONS[@]}" "$@" >"$WORK/sim.out" 2>"$WORK/sim.err" &
  SIM_PID=$!
  for _ in $(seq 250); do
    [[ -e $WORK/com1 ]] && return 0
    sleep 0.02
  done
  echo "vq3140-sim did not come up: $(cat "$WORK/sim.err")"
  exit 1
}

stop_sim() {
  [[ -n $SIM_PID ]] || return 0
  kill -TERM "$SIM_PID" 2>/dev/null
  wait "$SIM_PID" 2>/dev/null
  local status=$?
  SIM_PID=
  return $status
}
