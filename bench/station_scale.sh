#!/usr/bin/env bash
# vexal-station at scale: BOARDS simulated boards on lines paced at BAUD, each downloading a KIB KiB
# firmware through one station, beside one board alone: the wall times side by side, the station's own
# processor time as a share of the wall time, and every board's memory against the firmware. Then the
# same bench with faulty boards among the good ones (one falls silent before the end record, one
# refuses a block, one is killed mid-download): each fails with its own exit code and error line while
# every other board passes with the firmware in its memory.
#
#   bench/station_scale.sh BIN_DIR [BOARDS [KIB [BAUD]]]        defaults: 32 boards, 64 KiB, 115200 baud
#
# Targets: the wall time at most 1.3 times one board's, the station's processor time under 5 % of it.
# The exit status is 1 when a board ends otherwise than it should (the targets are printed, not judged).
set -uo pipefail

BIN=$(cd "${1:?usage: station_scale.sh BIN_DIR [BOARDS [KIB [BAUD]]]}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
BOARDS=${2:-32}
KIB=${3:-64}
BAUD=${4:-115200}
FW_BASE=0x010000
KILL_AFTER_TELEGRAMS=200  # the killed board's simulator ends after this many requests

source "$SOURCE/tests/e2e/lib/board.sh"
command -v srec_cat >/dev/null || { echo "srec_cat is needed (package srecord)"; exit 1; }
e2e_begin bench-station
BAD=0

# The firmware: the first KIB KiB of the example firmware's code, as its S2 records and as bytes.
FW_LENGTH=$((KIB * 1024))
srec_cat "$SOURCE/examples/firmware.s28" -motorola -crop $FW_BASE $((FW_BASE + FW_LENGTH)) \
  -o "$WORK/fw.s28" -motorola -address-length=3 -Output_Block_Size 32 -disable=header -disable=data-count \
  -execution-start-address=$FW_BASE 2>/dev/null
srec_cat "$WORK/fw.s28" -motorola -offset -$FW_BASE -o "$WORK/fw.bin" -binary 2>/dev/null
if [[ $(stat -c %s "$WORK/fw.bin") != "$FW_LENGTH" ]]; then
  echo "the example firmware holds less than $KIB KiB"
  exit 1
fi
BLOCKS=$((FW_LENGTH / 128))

declare -A FAULT=()  # board number -> simulator options that make it faulty
declare -A FAULT_NAME=()

board_link() { printf '%s/b%02d\n' "$WORK" "$1"; }

start_boards() {  # COUNT
  local i
  for i in $(seq "$1"); do
    # shellcheck disable=SC2086  # the fault's options are words
    start_board "$(board_link "$i")" --baud "$BAUD" --log "$(board_link "$i").log" \
      --dump "$(board_link "$i").dump@$(printf '%06X,%06X' $FW_BASE $FW_LENGTH)" ${FAULT[$i]:-}
  done
}

# The board KILLED's simulator is killed once it has taken KILL_AFTER_TELEGRAMS requests.
kill_mid_download() {
  local link pid
  link=$(board_link "$1")
  pid=${BOARD_PIDS[$link]}
  for _ in $(seq 600); do
    (($(grep -c '^ *[0-9.]* in ' "$link.log" 2>/dev/null) >= KILL_AFTER_TELEGRAMS)) && break
    sleep 0.05
  done
  kill -KILL "$pid"
}

# run_station COUNT NAME: the station on COUNT boards; sets WALL, CPU (from its report) and STATUS
run_station() {
  local count=$1 name=$2 ports start end
  ports=$(for i in $(seq "$count"); do board_link "$i"; done | paste -sd,)
  start=$(date +%s.%N)
  (cd "$WORK" && "$BIN/vexal-station" --ports "$ports" --logs "$WORK/$name-logs" --report "$WORK/$name.json" \
    -- "b$BAUD" fw.s28 >"$WORK/$name.out" 2>&1)
  STATUS=$?
  end=$(date +%s.%N)
  WALL=$(echo "$end - $start" | bc -l)
  CPU=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["station"]["cpu_seconds"])' \
    "$WORK/$name.json")
}

# Stops the boards and counts the good ones whose memory holds the firmware; sets MATCHED.
stop_and_compare() {  # COUNT
  local i
  MATCHED=0
  for i in $(seq "$1"); do
    stop_board "$(board_link "$i")"
    [[ -z ${FAULT_NAME[$i]:-} ]] && cmp -s "$WORK/fw.bin" "$(board_link "$i").dump" && MATCHED=$((MATCHED + 1))
  done
}

row() {  # COUNT ONE_WALL
  local ratio share
  ratio=$(echo "$WALL / $2" | bc -l)
  share=$(echo "100 * $CPU / $WALL" | bc -l)
  printf '  %6d %9.2f s %8.2f %11.3f s %7.2f %% %8d/%d\n' "$1" "$WALL" "$ratio" "$CPU" "$share" "$MATCHED" "$1"
}

echo "vexal-station: $BOARDS boards against one, each downloading $FW_LENGTH bytes at $BAUD baud (vq3140-sim)"
echo "  on $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) before the run"
echo "  boards      wall   vs one   station CPU   share  memory = firmware"
start_boards 1
run_station 1 one
stop_and_compare 1
ONE_WALL=$WALL
row 1 "$ONE_WALL"
[[ $STATUS == 0 && $MATCHED == 1 ]] || { echo "  one board alone failed:"; tail -n 3 "$WORK/one.out"; BAD=1; }

start_boards "$BOARDS"
run_station "$BOARDS" many
stop_and_compare "$BOARDS"
row "$BOARDS" "$ONE_WALL"
if [[ $STATUS != 0 || $MATCHED != "$BOARDS" ]]; then
  echo "  not every board passed:"
  tail -n 5 "$WORK/many.out"
  BAD=1
fi
printf '  targets: wall at most 1.3 times one board (%.2f), station CPU under 5 %% of the wall\n' \
  "$(echo "$WALL / $ONE_WALL" | bc -l)"

# The faulty boards: spread among the good ones.
SILENT=$((BOARDS / 4)) REFUSING=$((BOARDS / 2)) KILLED=$((3 * BOARDS / 4))
FAULT[$SILENT]="--fault silent:after=$BLOCKS"
FAULT_NAME[$SILENT]="silent before the end record"
FAULT[$REFUSING]="--fault refuse:every=$((BLOCKS / 3))"
FAULT_NAME[$REFUSING]="refuses block $((BLOCKS / 3))"
FAULT_NAME[$KILLED]="killed after $KILL_AFTER_TELEGRAMS telegrams"
echo
echo "faulty boards among $BOARDS:"
start_boards "$BOARDS"
# The shell's own notice of the killed simulator ("Killed") is no news: it goes to a file.
{
  kill_mid_download "$KILLED" &
  killer=$!
  run_station "$BOARDS" faulty
  wait "$killer"
  stop_and_compare "$BOARDS"
} 2>"$WORK/faulty.notices"
python3 - "$WORK/faulty.json" "$SILENT" "$REFUSING" "$KILLED" "${FAULT_NAME[$SILENT]}" "${FAULT_NAME[$REFUSING]}" \
  "${FAULT_NAME[$KILLED]}" "$MATCHED" <<'PY' || BAD=1
import json, sys
boards = json.load(open(sys.argv[1]))["boards"]
faulty = dict(zip(map(int, sys.argv[2:5]), sys.argv[5:8]))
matched, bad = int(sys.argv[8]), False
for board in boards:
    if board["index"] in faulty:
        print("  %-4s %-32s exit %-3s %s" %
              (board["name"], faulty[board["index"]], board["exit_code"], " ".join(board["error"].split())))
        bad |= board["result"] != "failed" or not board["error"]
good = [b for b in boards if b["index"] not in faulty]
passed = sum(b["result"] == "passed" for b in good)
print("  the other %d: %d passed, memory = firmware on %d" % (len(good), passed, matched))
sys.exit(1 if bad or passed != len(good) or matched != len(good) else 0)
PY
exit $BAD
