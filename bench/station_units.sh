#!/usr/bin/env bash
# The station's cost of unit values and records, beside the flash time: BOARDS boards (the station's
# fake vexal, a job of 1 KiB, one after the other so that the boards' own processes don't crowd the
# station off the processor while it waits for the database) taking a serial and a MAC and writing {unit.bin}, from SQLite,
# then from PostgreSQL on the loopback (a server of the bench's own; skipped without the server's
# programs). The station measures the wall time it spends taking the values and recording the attempts
# (the commits waited for included: its report's database_seconds); printed per board beside a board's
# flash time. Then the station's own processor time per board at BOARDS and at 4 x BOARDS boards with
# the SQLite database: flat when the cost per board doesn't grow with the bench.
#
#   bench/station_units.sh BIN_DIR [BOARDS]       default: 128 boards (and 512)
#
# Targets (printed, not judged): under 5 ms per board for SQLite, under 20 ms for PostgreSQL; the
# processor time per board at 4 x BOARDS within 1.2 times the figure at BOARDS.
set -uo pipefail

BIN=$(cd "${1:?usage: station_units.sh BIN_DIR [BOARDS]}" && pwd)
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
BOARDS=${2:-128}
FAKE=$SOURCE/tests/station/fake_vexal.py
WORK=$(mktemp -d /tmp/vexal-bench-units-XXXXXX)
source "$SOURCE/scripts/lib/pg.sh"
cleanup() {
  pg_end
  rm -rf "$WORK"
}
trap cleanup EXIT

# boards COUNT STEP: board files for the fake vexal; sets PORTS
boards() {
  local i ports=()
  for i in $(seq -w 1 "$1"); do
    printf 'bytes=1024\nstep=%s\n' "$2" >"$WORK/b$i"
    ports+=("$WORK/b$i")
  done
  PORTS=$(IFS=,; echo "${ports[*]}")
}

# run NAME ARGS...: the station on PORTS; sets WALL and CPU (its own processor time, from its report)
run() {
  local name=$1 start end
  shift
  start=$(date +%s.%N)
  (cd "$WORK" && "$BIN/vexal-station" --vexal "$FAKE" --ports "$PORTS" --report "$WORK/$name.json" "$@" \
    >"$WORK/$name.out" 2>&1) || { echo "  $name failed: $(tail -2 "$WORK/$name.out")"; exit 1; }
  end=$(date +%s.%N)
  WALL=$(echo "$end - $start" | bc -l)
  read -r CPU DB_SECONDS < <(python3 -c 'import json, sys; s = json.load(open(sys.argv[1]))["station"]
print(s["cpu_seconds"], s["database_seconds"] or 0)' "$WORK/$name.json")
}

UNITS=(--serial 1000 --mac 02:00:5E:10:00:00-02:00:5E:FF:FF:FF --layout 'serial u32be, mac 6 bytes')
JOB=(-- '@binput0FF000<{unit.bin}' 'S{serial}')

DB_SECONDS=
echo "vexal-station: the cost of unit values per board, $BOARDS boards one after the other"
echo "  on $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) before the run"
boards "$BOARDS" 0
run sqlite --jobs 1 --db "$WORK/units.db" "${UNITS[@]}" "${JOB[@]}"
printf '  %-12s %8.2f ms a board for the values and the record (target under 5)\n' SQLite \
  "$(echo "1000 * $DB_SECONDS / $BOARDS" | bc -l)"
if pg_begin; then
  run postgresql --jobs 1 --db "$PG_URL" "${UNITS[@]}" "${JOB[@]}"
  printf '  %-12s %8.2f ms a board for the values and the record (target under 20)\n' PostgreSQL \
    "$(echo "1000 * $DB_SECONDS / $BOARDS" | bc -l)"
fi
echo "  beside: a board's flash of 16 KiB at 115200 baud, about 2 s (bench/station_scale.sh)"

echo
echo "the station's own processor time per board, every board at once, SQLite database"
for count in "$BOARDS" $((4 * BOARDS)); do
  boards "$count" 0.02
  rm -rf "$WORK/scale.db" "$WORK/scale.db.units"
  run "scale$count" --db "$WORK/scale.db" "${UNITS[@]}" "${JOB[@]}"
  per_board=$(echo "1000 * $CPU / $count" | bc -l)
  [[ $count == "$BOARDS" ]] && FIRST=$per_board
  printf '  %6d boards %8.2f s wall %8.3f s CPU %6.2f ms a board (%.2f times the first)\n' "$count" "$WALL" "$CPU" \
    "$per_board" "$(echo "$per_board / $FIRST" | bc -l)"
done
