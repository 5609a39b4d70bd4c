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

source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/sim.sh"
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
  rm -f "$WORK/sim.log" "$WORK/dump.bin"
  sim_start "$BIN/vq3140-sim" "$WORK/com1" "$WORK/sim.out" "$WORK/sim.err" "${SIM_OPTIONS[@]}" "$@" || exit 1
}

stop_sim() { sim_stop; }
