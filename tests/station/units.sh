#!/bin/bash
# Unit values end to end with the real databases: SQLite through vexal-station's own file, PostgreSQL 15
# started here (initdb into a scratch folder as an unprivileged user, its socket in that folder, a free
# port on loopback, stopped at the end; skipped with a message only when the server's programs are
# absent).
#   - two stations at once on one pool, 32 simulated boards each (vq3140-sim): every board's memory holds
#     its own serial, no serial twice across both, and the records agree with the memories;
#   - a station killed with SIGKILL in the middle of 16 boards, then started again on the same pool: no
#     value given twice, the killed attempts recorded as unfinished;
#   - --limit; refusals: an exhausted pool, a duplicate list row, a value too wide for its field, a database that
#     can't be opened or is locked, one that vanishes mid-run (its records go to the journal), a server
#     stopped mid-run.
#
#   bash units.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(cd "$1" && pwd)
SOURCE=$(cd "$2" && pwd)
FAKE=$SOURCE/tests/station/fake_vexal.py
STATION="$BIN/vexal-station"
BOARDS_EACH=32
SERIAL_ADDRESS=0FF000
source "$SOURCE/scripts/lib/checks.sh"
source "$SOURCE/tests/e2e/lib/board.sh"
e2e_begin station-units
source "$SOURCE/scripts/lib/pg.sh"
cleanup() {
  pg_end
  e2e_end
}
trap cleanup EXIT

board_link() { printf '%s/b%02d\n' "$WORK" "$1"; }

# station_at OUT ARGS...: the station with the real vexal; its status in STATUS
station_at() {
  local out=$1
  shift
  (cd "$WORK" && "$STATION" "$@" >"$out" 2>"$out.err")
  STATUS=$?
}

# fake_station OUT ARGS...: the station with the fake vexal; its status in STATUS
fake_station() {
  local out=$1
  shift
  (cd "$WORK" && "$STATION" --vexal "$FAKE" "$@" >"$out" 2>"$out.err")
  STATUS=$?
}

# history_column DB COLUMN [FILTERS...]: one column of the history's CSV, a line per attempt
history_column() {
  local db=$1 column=$2
  shift 2
  "$STATION" history --db "$db" --csv "$@" | python3 -c '
import csv, sys
for row in csv.DictReader(sys.stdin):
    print(row[sys.argv[1]])' "$column"
}

# Two stations at once, each on BOARDS_EACH simulated boards, taking serials from one pool in DB.
two_stations() {
  local db=$1 label=$2 i ports_a ports_b pid_a
  for i in $(seq $((2 * BOARDS_EACH))); do
    start_board "$(board_link "$i")" --dump "$(board_link "$i").dump@$SERIAL_ADDRESS,4"
  done
  ports_a=$(for i in $(seq "$BOARDS_EACH"); do board_link "$i"; done | paste -sd,)
  ports_b=$(for i in $(seq $((BOARDS_EACH + 1)) $((2 * BOARDS_EACH))); do board_link "$i"; done | paste -sd,)
  local job=(b115200 "@binput$SERIAL_ADDRESS<{unit.bin}" "@verify$SERIAL_ADDRESS<{unit.bin}")
  (cd "$WORK" && exec "$STATION" --ports "$ports_a" --db "$db" --serial 5000 --layout 'serial u32be' \
    --station a -- "${job[@]}" >"$WORK/$label-a.out" 2>&1) &
  pid_a=$!
  station_at "$WORK/$label-b.out" --ports "$ports_b" --db "$db" --serial 5000 --layout 'serial u32be' \
    --station b -- "${job[@]}"
  [[ $STATUS == 0 ]] || fail "$label: station b ended with $STATUS: $(tail -3 "$WORK/$label-b.out")"
  wait "$pid_a" || fail "$label: station a failed: $(tail -3 "$WORK/$label-a.out")"
  stop_boards
  for i in $(seq $((2 * BOARDS_EACH))); do
    printf '%s %d\n' "$(board_link "$i")" "$((16#$(xxd -p "$(board_link "$i").dump")))"
  done | sort >"$WORK/$label-memories"
  paste -d' ' <(history_column "$db" port) <(history_column "$db" serial) | sort >"$WORK/$label-records"
  cmp -s "$WORK/$label-memories" "$WORK/$label-records" ||
    fail "$label: the records don't agree with the memories: $(diff "$WORK/$label-memories" "$WORK/$label-records" | head -5)"
  local distinct
  distinct=$(cut -d' ' -f2 "$WORK/$label-memories" | sort -u | wc -l)
  [[ $distinct == $((2 * BOARDS_EACH)) ]] || fail "$label: $distinct distinct serials in $((2 * BOARDS_EACH)) memories"
  [[ $(cut -d' ' -f2 "$WORK/$label-memories" | sort -n | head -1) == 5000 ]] || fail "$label: the pool didn't start at 5000"
}

echo "== two stations, $BOARDS_EACH boards each, one SQLite file"
two_stations "$WORK/line.db" sqlite

echo "== a station killed mid-run, then started again on the same pool"
for i in $(seq 16); do printf 'bytes=8192\nstep=0.05\n' >"$WORK/f$i"; done
fake_ports=$(for i in $(seq 16); do echo "$WORK/f$i"; done | paste -sd,)
export FAKE_RECORD=$WORK/crash-record
(cd "$WORK" && exec "$STATION" --vexal "$FAKE" --ports "$fake_ports" --jobs 4 --db "$WORK/crash.db" --serial 1 \
  -- 'S{serial}' >"$WORK/crash1.out" 2>&1) &
crashed=$!
for _ in $(seq 200); do
  [[ -e $FAKE_RECORD ]] && (($(wc -l <"$FAKE_RECORD") >= 6)) && break
  sleep 0.05
done
{
  kill -KILL "$crashed"
  wait "$crashed"
} 2>/dev/null  # the shell's notice of the kill is no news
fake_station "$WORK/crash2.out" --ports "$fake_ports" --jobs 4 --db "$WORK/crash.db" --serial 1 -- 'S{serial}'
[[ $STATUS == 0 ]] || fail "the run after the crash: status $STATUS: $(tail -3 "$WORK/crash2.out")"
unset FAKE_RECORD
serials=$(history_column "$WORK/crash.db" serial)
[[ $(sort <<<"$serials" | uniq -d) == "" ]] || fail "a serial given twice after the crash: $(sort <<<"$serials" | uniq -d)"
unfinished=$(history_column "$WORK/crash.db" result | grep -c '^unfinished$')
((unfinished >= 1)) || fail "no attempt of the killed station recorded as unfinished"
[[ $(history_column "$WORK/crash.db" result | grep -c '^running$') == 0 ]] || fail "attempts left running"
[[ $(history_column "$WORK/crash.db" result | grep -c '^passed$') -ge 16 ]] || fail "the second run's 16 did not pass"
grep -q 'S[0-9]' "$WORK/crash-record" || fail "no serial reached the jobs"

echo "== refusals"
for b in r1 r2 r3; do echo "bytes=1024" >"$WORK/$b"; done
fake_station "$WORK/out" --ports "$WORK/r1,$WORK/r2,$WORK/r3" --db "$WORK/small.db" --serial 1-2 --report "$WORK/r.json" \
  -- 'S{serial}'
[[ $STATUS == 1 ]] || fail "an exhausted pool: status $STATUS"
grep -q '^vexal-station: the serial pool ran out: no new board starts$' "$WORK/out.err" ||
  fail "an exhausted pool: $(cat "$WORK/out.err")"
python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))
sys.exit(0 if [b["result"] for b in r["boards"]] == ["passed", "passed", "not started"]
         and r["boards"][0]["units"] == {"serial": "1"} else 1)' "$WORK/r.json" || fail "an exhausted pool's report"

export FAKE_RECORD=$WORK/limit-record
fake_station "$WORK/out" --ports "$WORK/r1,$WORK/r2,$WORK/r3" --jobs 1 --limit 2 --db "$WORK/limit.db" --serial 1 \
  -- 'S{serial}'
unset FAKE_RECORD
[[ $STATUS == 0 ]] || fail "--limit 2: status $STATUS: $(cat "$WORK/out")"
[[ $(wc -l <"$WORK/limit-record") == 2 ]] || fail "--limit 2 ran $(wc -l <"$WORK/limit-record") boards"
grep -q '^vexal-station: 2 boards passed (--limit): no new board starts$' "$WORK/out" || fail "--limit 2: $(cat "$WORK/out")"

printf 'id,key\n1,AA\n2,BB\n3,AA\n' >"$WORK/dup.csv"
printf 'key\nAABB\nAABBCC\n' >"$WORK/wide.csv"
python3 - "$WORK/locked.db" "$WORK/locked.ready" <<'PY' &
import os, sqlite3, sys, time
db = sqlite3.connect(sys.argv[1], isolation_level=None)
db.execute("BEGIN EXCLUSIVE")
open(sys.argv[2], "w").close()
time.sleep(15)
PY
locker=$!
for _ in $(seq 100); do [[ -e $WORK/locked.ready ]] && break; sleep 0.05; done
while IFS='|' read -r args message; do
  eval "words=($args)"
  fake_station "$WORK/out" --ports "$WORK/r1" "${words[@]}"
  [[ $STATUS == 2 ]] || fail "$args: status $STATUS"
  [[ $(cat "$WORK/out.err") == "vexal-station: $message"* && $(wc -l <"$WORK/out.err") == 1 ]] ||
    fail "$args: $(cat "$WORK/out.err")"
done <<EOT
--key $WORK/dup.csv:key -- '{key}'|$WORK/dup.csv rows 2 and 4 hold the same key AA: each value is given once
--key $WORK/wide.csv --layout 'key 2 bytes' -- '{unit.bin}'|$WORK/wide.csv row 3: the key AABBCC doesn't fit its field
--serial 1-300 --layout 'serial u8' -- '{unit.bin}'|the serial pool's last value 300 does not fit the layout's 1 bytes
--serial 1 --db /proc/none/x.db -- x|can't open the database /proc/none/x.db
--serial 1 --db $WORK/locked.db -- x|the database $WORK/locked.db is locked by another process (waited 5 s)
EOT
kill "$locker" 2>/dev/null
wait "$locker" 2>/dev/null
[[ -e $WORK/vexal-station.db ]] && fail "a refused run made a database"

# The database removed while the first of three boards runs: it ends and is recorded in the journal,
# the others don't start; the next station on a new file replays the journal (the attempt is unknown there).
printf 'bytes=4096\nstep=0.1\n' >"$WORK/v1"
export FAKE_RECORD=$WORK/vanish-record
(cd "$WORK" && exec "$STATION" --vexal "$FAKE" --ports "$WORK/v1,$WORK/r2,$WORK/r3" --jobs 1 --db "$WORK/gone.db" \
  --serial 1 -- 'S{serial}' >"$WORK/vanish.out" 2>&1) &
vanishing=$!
for _ in $(seq 100); do [[ -s $FAKE_RECORD ]] && break; sleep 0.05; done
rm -f "$WORK/gone.db" "$WORK/gone.db-wal" "$WORK/gone.db-shm"
wait "$vanishing"
STATUS=$?
unset FAKE_RECORD
[[ $STATUS == 1 ]] || fail "a vanished database: status $STATUS"
grep -q "the database $WORK/gone.db is gone: no new board starts" "$WORK/vanish.out" ||
  fail "a vanished database: $(cat "$WORK/vanish.out")"
[[ $(wc -l <"$WORK/vanish-record") == 1 ]] || fail "boards started after the database vanished"
grep -q '"result":"passed"' "$WORK/gone.db.units/journal.jsonl" || fail "the running board's record is not in the journal"

if pg_begin; then
  echo "== two stations, $BOARDS_EACH boards each, one PostgreSQL server"
  two_stations "$PG_URL" postgresql

  echo "== the server stopped while a board runs: it is journaled, nothing new starts; replayed later"
  printf 'bytes=4096\nstep=0.1\n' >"$WORK/p1"
  export FAKE_RECORD=$WORK/pg-record
  (cd "$WORK" && exec "$STATION" --vexal "$FAKE" --ports "$WORK/p1,$WORK/r2" --jobs 1 --db "$PG_URL" --serial 1 \
    -- 'S{serial}' >"$WORK/pgstop.out" 2>&1) &
  pg_station=$!
  for _ in $(seq 100); do [[ -s $FAKE_RECORD ]] && break; sleep 0.05; done
  pg_pause
  wait "$pg_station"
  STATUS=$?
  unset FAKE_RECORD
  [[ $STATUS == 1 ]] || fail "a server stopped mid-run: status $STATUS"
  [[ $(wc -l <"$WORK/pg-record") == 1 ]] || fail "a board started while the server was down"
  grep -q "kept in the journal" "$WORK/pgstop.out" || fail "the record is not journaled: $(cat "$WORK/pgstop.out")"
  pg_resume || fail "the server did not start again"
  fake_station "$WORK/out" --ports "$WORK/r1" --db "$PG_URL" --serial 1 -- 'S{serial}'
  [[ $STATUS == 0 ]] || fail "after the server came back: status $STATUS: $(cat "$WORK/out.err")"
  [[ -e vexal-station.units/journal.jsonl || -e $WORK/vexal-station.units/journal.jsonl ]] &&
    fail "the journal was not replayed"
  [[ $(history_column "$PG_URL" result --port "$WORK/p1") == passed ]] ||
    fail "the journaled record did not reach the server: $("$STATION" history --db "$PG_URL" --port "$WORK/p1")"
fi

finish_checks
