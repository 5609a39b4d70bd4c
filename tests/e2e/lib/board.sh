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
#
# Many boards side by side (each its own simulator, its link and files named after it):
#
#   start_board LINK [opts]   a board whose link is LINK (a path), with SIM_OPTIONS and then opts; its
#                             standard output and error in $WORK/NAME.out and $WORK/NAME.err, NAME the
#                             link's file name (not beside the link: a device folder holds links only)
#   stop_board LINK           ends that board (SIGTERM: it writes its dump, removes its link); its status
#   kill_board LINK           ends it at once (SIGKILL, as a board losing power: no dump, the link stays)
#   stop_boards               ends every board still running

source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/sim.sh"
SIM_OPTIONS=()
declare -A BOARD_PIDS=()

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
  stop_boards
  rm -rf "$WORK"
}

start_sim() {
  rm -f "$WORK/sim.log" "$WORK/dump.bin"
  sim_start "$BIN/vq3140-sim" "$WORK/com1" "$WORK/sim.out" "$WORK/sim.err" "${SIM_OPTIONS[@]}" "$@" || exit 1
}

stop_sim() { sim_stop; }

# The boards are started by sim_start too; their ids are kept here, apart from the one board's SIM_PID.
start_board() {
  local link=$1 one_board=$SIM_PID
  shift
  sim_start "$BIN/vq3140-sim" "$link" "$WORK/${link##*/}.out" "$WORK/${link##*/}.err" "${SIM_OPTIONS[@]}" "$@" ||
    exit 1
  BOARD_PIDS[$link]=$SIM_PID
  SIM_PID=$one_board
}

# end_board LINK SIGNAL: sends the board SIGNAL and waits for it; its status
end_board() {
  local pid=${BOARD_PIDS[$1]:-}
  [[ -n $pid ]] || return 0
  unset "BOARD_PIDS[$1]"
  kill -"$2" "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

stop_board() { end_board "$1" TERM; }

kill_board() {
  end_board "$1" KILL
  return 0
}

stop_boards() {
  local link
  for link in "${!BOARD_PIDS[@]}"; do kill -TERM "${BOARD_PIDS[$link]}" 2>/dev/null; done
  for link in "${!BOARD_PIDS[@]}"; do wait "${BOARD_PIDS[$link]}" 2>/dev/null; done
  BOARD_PIDS=()
}
