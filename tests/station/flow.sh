#!/bin/bash
# vexal-station end to end against a fake vexal of the test's own (fake_vexal.py): the log, the reports,
# placeholders, --jobs, Ctrl-C once and twice, crashes, --all with --match, usage errors, watch mode in a
# scratch device folder, and the live table in a terminal (tmux). Then what a report says while boards
# run (read every 100 ms) and what it records of each board, refused jobs and report paths, a job that
# ignores SIGINT, a Ctrl-C while ports are listed, 1100 ports under a 1024 open-file limit, and the table
# at 80, 100 and 160 columns.
#
#   bash flow.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(cd "$1" && pwd)
SOURCE=$(cd "$2" && pwd)
FAKE=$SOURCE/tests/station/fake_vexal.py
STATION="$BIN/vexal-station"
source "$SOURCE/scripts/lib/checks.sh"  # fail, finish_checks, wait_for
WORK=$(mktemp -d /tmp/vexal-station-flow-XXXXXX)
STATION_PID=
TMUX_SESSION=station-flow-$$

cleanup() {
  [[ -n $STATION_PID ]] && kill -TERM "$STATION_PID" 2>/dev/null && wait "$STATION_PID" 2>/dev/null
  tmux kill-session -t "$TMUX_SESSION" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# board NAME KEY=VALUE...: a board file for the fake vexal
board() {
  local name=$1
  shift
  printf '%s\n' "$@" >"$WORK/$name"
}

# station OUT ARGS...: runs the station with the fake vexal, standard output to OUT; sets STATUS
station() {
  local out=$1
  shift
  (cd "$WORK" && "$STATION" --vexal "$FAKE" "$@" >"$out" 2>"$out.err")
  STATUS=$?
}

# station_in_background OUT ARGS...: the station started with the fake vexal, its output in OUT
station_in_background() {
  local out=$1
  shift
  (cd "$WORK" && exec "$STATION" --vexal "$FAKE" "$@" >"$out" 2>&1) &
  STATION_PID=$!
}

# station_end: waits for the station started in the background; its status in STATUS
station_end() {
  wait "$STATION_PID"
  STATUS=$?
  STATION_PID=
}

expect_status() {
  [[ $STATUS == "$1" ]] || fail "$2: exit status $STATUS, expected $1"
}

# json_check FILE PYTHON-EXPRESSIONS...: each expression, with r the report, must be true
json_check() {
  local file=$1
  shift
  python3 - "$file" "$@" <<'PY' || fail "the report $file"
import json, sys
r = json.load(open(sys.argv[1]))
for check in sys.argv[2:]:
    if not eval(check):
        print("FAIL: in %s: %s" % (sys.argv[1], check))
        sys.exit(1)
PY
}

echo "== a log of phases, one failing board among good ones, the reports"
board b1 bytes=8192
board b2 bytes=4096 garbage=1
board b3 bytes=3072 code=5 "error=Error: No response."
station "$WORK/log" --ports "$WORK/b1,$WORK/b2,$WORK/b3" --logs "$WORK/logs" --report "$WORK/r.json" \
  --junit "$WORK/r.xml" -- b115200 fw.s28
expect_status 1 "one board failed"
grep -q $'\x1b' "$WORK/log" && fail "escape sequences in a log"
for b in b1 b2 b3; do
  got=$(grep -E "^ +[0-9]+\.[0-9]{2} s  $b  " "$WORK/log" | sed -E 's/^ +[0-9.]+ s  [^ ]+  //' | tr -s ' ' |
    cut -d' ' -f1-2 | paste -sd'|')
  want="opening|identity|loading firmware.s28|done VQ-3140"
  [[ $b == b3 ]] && want="opening|identity|loading firmware.s28|failed exit"
  [[ $got == "$want" ]] || fail "$b's lines: $got, expected $want"
done
grep -qx "  b3 ($WORK/b3): exit code 5: Error: No response." "$WORK/log" || fail "the summary lacks b3's error"
grep -Eq '^3 boards: 2 passed, 1 failed, [0-9.]+ s$' "$WORK/log" || fail "summary: $(grep boards: "$WORK/log")"
[[ $(cat "$WORK/logs/b1.log") == $'ARGS: b115200|fw.s28\nExit code     0' ]] ||
  fail "b1's console log: $(cat "$WORK/logs/b1.log")"
json_check "$WORK/r.json" \
  'r["station"]["passed"] == 2 and r["station"]["failed"] == 1 and r["station"]["not_started"] == 0' \
  'r["station"]["job"] == ["b115200", "fw.s28"]' \
  '[b["name"] for b in r["boards"]] == ["b1", "b2", "b3"]' \
  '[b["exit_code"] for b in r["boards"]] == [0, 0, 5]' \
  '[b["result"] for b in r["boards"]] == ["passed", "passed", "failed"]' \
  '[b["written"] for b in r["boards"]] == [8192, 4096, 3072] and all(b["read"] == 44 for b in r["boards"])' \
  '[b["bytes"] for b in r["boards"]] == [8192 + 44, 4096 + 44, 3072 + 44]' \
  'r["boards"][2]["error"] == "Error: No response." and r["boards"][0]["error"] == ""' \
  'all(b["identity"] == "VQ-3140 ZARVEN v1.28" for b in r["boards"])' \
  'all(b["log"].endswith("/logs/" + b["name"] + ".log") for b in r["boards"])' \
  'all(b["port"].endswith("/" + b["name"]) for b in r["boards"])' \
  'all(b["by_id"] is None and b["serial"] is None for b in r["boards"])' \
  'all(b["duration"] > 0 and b["start"].endswith("Z") for b in r["boards"])'
python3 - "$WORK/r.xml" <<'PY' || fail "the JUnit report"
import sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot().find("testsuite")
cases = suite.findall("testcase")
assert suite.get("tests") == "3" and suite.get("failures") == "1", suite.attrib
assert [c.get("name").split(" ")[0] for c in cases] == ["b1", "b2", "b3"]
assert cases[0].find("failure") is None and cases[1].find("failure") is None
failure = cases[2].find("failure")
assert failure.get("message") == "exit code 5: Error: No response.", failure.attrib
assert cases[2].find("system-out").text.endswith("/logs/b3.log\n")
PY

echo "== {port}, {name} and {index} in the job; --jobs 1 runs one board after the other"
board c1 bytes=2048
board c2 bytes=2048
board c3 bytes=2048
export FAKE_RECORD=$WORK/record
station "$WORK/log" --ports "$WORK/c1,$WORK/c2" --ports="$WORK/c3" --jobs 1 --report "$WORK/r.json" \
  -- '@binget000000,000010>{name}-{index}.bin' '{port}' 'x{index}{index}'
unset FAKE_RECORD
expect_status 0 "three good boards"
grep -qx "vexal-station: 1 jobs at once at most (--jobs); the others wait their turn" "$WORK/log" ||
  fail "the note of the job limit: $(grep 'at once' "$WORK/log")"
for i in 1 2 3; do
  grep -qxF "$WORK/c$i ARGS: @binget000000,000010>c$i-$i.bin|$WORK/c$i|x$i$i" "$WORK/record" ||
    fail "c$i's job: $(grep "c$i ARGS" "$WORK/record")"
done
json_check "$WORK/r.json" \
  'all(r["boards"][i]["job"][0] == "@binget000000,000010>c%d-%d.bin" % (i + 1, i + 1) for i in range(3))' \
  'r["station"]["job"] == ["@binget000000,000010>{name}-{index}.bin", "{port}", "x{index}{index}"]'
python3 - "$WORK/r.json" <<'PY' || fail "--jobs 1 let boards overlap"
import json, sys, datetime
boards = json.load(open(sys.argv[1]))["boards"]
t = lambda b: datetime.datetime.fromisoformat(b["start"].rstrip("Z")).timestamp()
for a, b in zip(boards, boards[1:]):
    assert t(b) >= t(a) + a["duration"] - 0.002, (a, b)
PY

echo "== a vexal that crashes, one that sends no events, one that can't be started"
board d1 bytes=8192 crash=9
board d2 bytes=2048 noevents=1
board d3 bytes=2048 noevents=1 code=4
station "$WORK/log" --ports "$WORK/d1,$WORK/d2,$WORK/d3,$WORK/missing" --report "$WORK/r.json" -- fw.s28
expect_status 1 "crashed boards"
json_check "$WORK/r.json" \
  '[b["exit_code"] for b in r["boards"]] == [137, 0, 4, 2]' \
  'r["boards"][0]["error"] == "vexal ended by signal 9 (Killed)"' \
  'r["boards"][1]["result"] == "passed" and r["boards"][1]["identity"] is None' \
  'r["boards"][2]["error"] == "vexal ended with exit code 4 and no end event"' \
  '[b["bytes"] for b in r["boards"]] == [None, None, None, None]'
station "$WORK/log" --vexal "$WORK/no-such-vexal" --ports "$WORK/d2" -- fw.s28
expect_status 1 "no vexal"
grep -q "failed  exit code 127: can't run $WORK/no-such-vexal: No such file or directory" "$WORK/log" ||
  fail "a vexal that can't be started: $(cat "$WORK/log")"

echo "== Ctrl-C: no more jobs start, the running one ends; a second Ctrl-C interrupts the running jobs"
board e1 bytes=40960 step=0.1
board e2 bytes=2048
board e3 bytes=2048
station_in_background "$WORK/log" --ports "$WORK/e1,$WORK/e2,$WORK/e3" --jobs 1 --report "$WORK/r.json" -- fw.s28
wait_for "$WORK/log" "e1  loading"
kill -INT "$STATION_PID"
wait_for "$WORK/log" "stopping; waiting for 1 running jobs"
station_end
expect_status 1 "stopped before all boards ran"
grep -q "e1  done" "$WORK/log" || fail "the running job didn't end on its own"
grep -Eq "^3 boards: 1 passed, 0 failed, 2 not started" "$WORK/log" || fail "summary: $(grep boards: "$WORK/log")"
json_check "$WORK/r.json" '[b["result"] for b in r["boards"]] == ["passed", "not started", "not started"]' \
  'r["boards"][1]["exit_code"] is None and r["boards"][1]["start"] is None'

# Long enough (40 s) that neither can end on its own before the second Ctrl-C, however slowly a loaded
# machine starts the other: both must be interrupted.
board f1 bytes=409600 step=0.1
board f2 bytes=409600 step=0.1
station_in_background "$WORK/log" --ports "$WORK/f1,$WORK/f2" --report "$WORK/r.json" -- fw.s28
# Both jobs loading, so both have their signal handling in place: a loaded machine may start f2's first.
wait_for "$WORK/log" "f1  loading"
wait_for "$WORK/log" "f2  loading"
kill -INT "$STATION_PID"
wait_for "$WORK/log" "stopping"
kill -INT "$STATION_PID"
station_end
expect_status 1 "interrupted boards"
grep -q "interrupting 2 running jobs" "$WORK/log" || fail "no note of the interruption"
json_check "$WORK/r.json" '[b["exit_code"] for b in r["boards"]] == [130, 130]' \
  'r["boards"][0]["error"] == "vexal ended by signal 2 (Interrupt)"' \
  'all(b["duration"] < 30 for b in r["boards"])'  # interrupted: 40 s of loading otherwise

echo "== --all takes what vexal --list-ports lists, filtered by --match"
board g1 bytes=1024
board g2 bytes=1024
board g3 bytes=1024
printf '%s\t%s\t%s\t%s\t%s\n' "$WORK/g1" usb-Maker_Board_G1-if00 1234:abcd G1 "Maker Board" \
  "$WORK/g2" usb-Phone_Maker_Phone-if01 18d1:4ee7 P1 "Phone" \
  "$WORK/g3" - 1234:ABCD - - >"$WORK/ports"
export FAKE_PORTS=$WORK/ports
station "$WORK/log" --all --match 1234:abcd --report "$WORK/r.json" -- fw.s28
expect_status 0 "--all --match 1234:abcd"
json_check "$WORK/r.json" '[b["name"] for b in r["boards"]] == ["usb-Maker_Board_G1-if00", "g3"]' \
  'r["boards"][0]["serial"] == "G1" and r["boards"][0]["vid_pid"] == "1234:abcd"' \
  'r["boards"][0]["by_id"] == "usb-Maker_Board_G1-if00" and r["boards"][1]["by_id"] is None'
station "$WORK/log" --all --match 'usb-Maker_*' --report "$WORK/r.json" -- fw.s28
json_check "$WORK/r.json" '[b["name"] for b in r["boards"]] == ["usb-Maker_Board_G1-if00"]'
station "$WORK/log" --all --match 'usb-Nobody_*' -- fw.s28
expect_status 1 "nothing matched"
grep -q "no ports found that match" "$WORK/log" || fail "nothing matched, nothing said: $(cat "$WORK/log")"
station "$WORK/log" --all -- fw.s28
expect_status 0 "--all without --match"
grep -Eq "^3 boards: 3 passed" "$WORK/log" || fail "--all without --match: $(cat "$WORK/log")"
: >"$WORK/ports"
station "$WORK/log" --ports "$WORK/g1" --report "$WORK/r.json" -- fw.s28
json_check "$WORK/r.json" 'r["boards"][0]["name"] == "g1" and r["boards"][0]["by_id"] is None'
unset FAKE_PORTS

echo "== usage errors and jobs that can't mean what they say end with status 2 before anything runs"
mkdir -p "$WORK/dup1" "$WORK/dup2"
board dup1/board
board dup2/board
echo keep >"$WORK/outside"
ln -s "$WORK/outside" "$WORK/link.json"
mkfifo "$WORK/fifo.xml"
printf 'jobs = [1\n' >"$WORK/broken.toml"
printf 'colour = "red"\n' >"$WORK/unknown.toml"
printf 'all = "yes"\n' >"$WORK/wrongkind.toml"
export FAKE_RECORD=$WORK/refused-record
while IFS='|' read -r args message; do
  read -ra words <<<"$args"
  station "$WORK/log" "${words[@]}"
  expect_status 2 "$args"
  [[ $(cat "$WORK/log.err") == "vexal-station: "*"$message"* && $(wc -l <"$WORK/log.err") == 1 ]] ||
    fail "$args: $(cat "$WORK/log.err")"
done <<EOT
--watch -- fw.s28|--watch needs --match
--all --ports $WORK/g1|exclude each other
--ports $WORK/g1 --match usb-*|--match goes with --all or --watch
--ports $WORK/g1,$WORK/g1|the port $WORK/g1 is given twice
--ports $WORK/g1 -- {serail}.bin|unknown placeholder {serail}
--ports $WORK/g1 -- {serial}.bin|{serial} in the job needs the serial pool (--serial)
--ports $WORK/g1 --key $WORK/none.csv -- {key}|can't read $WORK/none.csv
--ports $WORK/g1 --limit 0 -- x|--limit needs a number of boards
--ports $WORK/g1 --serial 1 --db $WORK/no/such/units.db -- x|can't open the database $WORK/no/such/units.db
--production $WORK/none.toml|can't read $WORK/none.toml: No such file or directory
--production $WORK/broken.toml|$WORK/broken.toml line 1:
--production $WORK/unknown.toml|$WORK/unknown.toml: unknown key colour
--production $WORK/wrongkind.toml|$WORK/wrongkind.toml: the value of all is of the wrong kind
--ports $WORK/g1 --jobs 0|--jobs needs a number
--ports $WORK/g1 --logs /proc/none/logs|can't make the log folder /proc/none/logs
--ports $WORK/g1 --report /proc/none/r.json|can't write /proc/none/r.json
--ports $WORK/g1 -- b115200|the job holds only settings
--ports $WORK/g1 -- b115200 old|add --identify or the command I000000
--ports $WORK/g1 -- --port /dev/ttyS0 fw.s28|the job holds --port: the station gives each board its own port
--ports $WORK/g1 -- -P /dev/ttyS0 fw.s28|the job holds -P
--ports $WORK/g1 -- --list-ports|the job holds --list-ports
--ports dup1/board,dup2/board -- b115200 @binget0,10>id-{name}.bin|dup1/board and dup2/board both make '@binget0
--ports $WORK/g1 --report $WORK/link.json -- fw.s28|$WORK/link.json is a symbolic link
--ports $WORK/g1 --junit $WORK/fifo.xml -- fw.s28|$WORK/fifo.xml is a FIFO
--ports $WORK/g1 --report /dev/stdout -- fw.s28|/dev/stdout is a symbolic link
--ports $WORK/g1 --report /dev/full -- fw.s28|/dev/full is a device
EOT
unset FAKE_RECORD
[[ -e $WORK/refused-record ]] && fail "a refused command line ran a job"
[[ $(cat "$WORK/outside") == keep ]] || fail "a report was written through a link"
ls -a "$WORK" | grep -q '\.tmp$\|^\.link\.json\.' && fail "a refused report left a temporary file"

echo "== watch mode: a port runs its job when its link appears, again only after it went away and came back"
mkdir -p "$WORK/dev"  # no serial/by-id yet: made once the first adapter is in, as udev does
board w1 bytes=2048
board phone bytes=2048
LINK=$WORK/dev/serial/by-id/usb-Maker_Board_W1-if00
export VEXAL_DEV_ROOT=$WORK/dev FAKE_RECORD=$WORK/watch-record FAKE_LIST_RECORD=$WORK/listings
station_in_background "$WORK/wlog" --watch --match 'usb-Maker_*' --logs "$WORK/wlogs" --report "$WORK/w.json" \
  -- fw.s28
wait_for "$WORK/wlog" "^watching $WORK/dev for ports matching usb-Maker_\*"
# wait_runs N WHAT: until the board's job has ended N times in all (fails with WHAT otherwise)
wait_runs() {
  for _ in $(seq 100); do
    [[ $(grep -c "usb-Maker_Board_W1-if00  done" "$WORK/wlog") == "$1" ]] && return 0
    sleep 0.1
  done
  fail "$2 ($(grep -c "usb-Maker_Board_W1-if00  done" "$WORK/wlog") runs, expected $1)"
}
# listed: how many listings of the ports the station has had made so far
listed() { { grep -c '^listed$' "$WORK/listings" 2>/dev/null || echo 0; } | head -n 1; }
# wait_listed N WHAT: until the station has had the ports listed more than N times
wait_listed() {
  for _ in $(seq 100); do
    (($(listed) > $1)) && return 0
    sleep 0.1
  done
  fail "$2: the ports were not listed again"
}
mkdir -p "$WORK/dev/serial/by-id"
ln -s "$WORK/w1" "$LINK"
ln -s "$WORK/phone" "$WORK/dev/serial/by-id/usb-Phone_Maker_Phone-if01"
wait_runs 1 "a port that appeared didn't run its job"
# Another link beside it has the ports listed again: the port still plugged in must not run its job
# again (nor at any later listing: the report's count of boards at the end says so).
seen=$(listed)
ln -s "$WORK/phone" "$WORK/dev/serial/by-id/usb-Phone_Maker_Phone-if02"
wait_listed "$seen" "a second phone's link"
wait_runs 1 "a port still plugged in ran its job again"
seen=$(listed)
rm "$LINK"
wait_listed "$seen" "the port's link deleted"
ln -s "$WORK/w1" "$LINK"
wait_runs 2 "a port that came back didn't run its job again"
rm "$LINK" && ln -s "$WORK/w1" "$LINK"  # out and in again between two listings
wait_runs 3 "a quick replug was missed"
seen=$(listed)
rm -rf "$WORK/dev/serial"  # the last adapter out: udev removes the folders too
wait_listed "$seen" "the by-id folder deleted"
mkdir -p "$WORK/dev/serial/by-id" && ln -s "$WORK/w1" "$LINK"
wait_runs 4 "the by-id folder made again wasn't watched"
kill -INT "$STATION_PID"
station_end
unset VEXAL_DEV_ROOT FAKE_RECORD FAKE_LIST_RECORD
expect_status 0 "watch mode ended by Ctrl-C with every job passed"
grep -q phone "$WORK/watch-record" && fail "a port that doesn't match was sent a job"
json_check "$WORK/w.json" 'len(r["boards"]) == 4 and r["station"]["passed"] == 4' \
  'all(b["by_id"] == "usb-Maker_Board_W1-if00" and b["port"] == "'"$WORK/w1"'" for b in r["boards"])' \
  '[b["log"].split("/")[-1] for b in r["boards"]] == ["usb-Maker_Board_W1-if00.log"] + \
     ["usb-Maker_Board_W1-if00-%d.log" % i for i in (2, 3, 4)]'

echo "== on a terminal: a live table redrawn in place, at most 4 times a second, the summary below it"
for i in 1 2 3; do board "t$i" bytes=30720 step=0.1; done
board t4 bytes=10240 step=0.1 code=4 "error=Error: Block refused."
# The station starts once the pane's output is piped to the file (the file "go" says so).
rm -f "$WORK/go"
tmux new-session -d -s "$TMUX_SESSION" -x 110 -y 20 "until [ -e '$WORK/go' ]; do sleep 0.05; done; cd '$WORK' && \
  '$STATION' --vexal '$FAKE' --ports '$WORK/t1,$WORK/t2,$WORK/t3,$WORK/t4' -- fw.s28; echo status \$?; sleep 60"
tmux pipe-pane -o -t "$TMUX_SESSION" "cat >'$WORK/raw'"
touch "$WORK/go"
pane() { tmux capture-pane -p -t "$TMUX_SESSION"; }
for _ in $(seq 300); do pane | grep -q "t1 .*loading firmware.s28 .*%" && break; sleep 0.1; done
pane >"$WORK/frame"
cursor_while_live=$(tmux display -p -t "$TMUX_SESSION" '#{cursor_flag}')
for _ in $(seq 600); do pane | grep -q "^status" && break; sleep 0.1; done
pane >"$WORK/final"
[[ $(grep -c '^  #  port' "$WORK/frame") == 1 ]] || fail "the table while it runs: $(cat "$WORK/frame")"
grep -Eq '^  1  t1  +VQ-3140 ZARVEN v1.28  loading firmware.s28 +[0-9]+ % +[0-9.]+ kB/s +[0-9.]+ s$' "$WORK/frame" ||
  fail "a row while loading: $(grep '  1  t1' "$WORK/frame")"
[[ $cursor_while_live == 0 ]] || fail "the cursor shows while the table is live"
[[ $(tmux display -p -t "$TMUX_SESSION" '#{cursor_flag}') == 1 ]] || fail "the cursor stays hidden after the end"
[[ $(grep -c '^  #  port' "$WORK/final") == 1 ]] || fail "the table was drawn more than once: $(cat "$WORK/final")"
grep -Eq '^  4  t4  .*failed .*exit 4: Error: Block refused.$' "$WORK/final" ||
  fail "the failed row: $(cat "$WORK/final")"
sed -n '/^  #  port/,/^status/p' "$WORK/final" | sed -E 's/ +[0-9.]+ (s|kB\/s|B\/s)/ N/g' >"$WORK/final.shape"
cat >"$WORK/final.want" <<EOT
  #  port  identity              phase       %        rate     time  result
  1  t1    VQ-3140 ZARVEN v1.28  done N N  ok
  2  t2    VQ-3140 ZARVEN v1.28  done N N  ok
  3  t3    VQ-3140 ZARVEN v1.28  done N N  ok
  4  t4    VQ-3140 ZARVEN v1.28  failed N N  exit 4: Error: Block refused.
4 boards: 3 passed, 1 failed, N
  t4 ($WORK/t4): exit code 4: Error: Block refused.
status 1
EOT
diff "$WORK/final.want" "$WORK/final.shape" >/dev/null ||
  fail "the end on the terminal: $(diff "$WORK/final.want" "$WORK/final.shape")"
run_seconds=$(grep -oE '^4 boards: .* ([0-9.]+) s$' "$WORK/final" | grep -oE '[0-9.]+ s$' | cut -d' ' -f1)
python3 - "$WORK/raw" "${run_seconds:-0}" <<'PY' || fail "the table's pace"
import re, sys
raw = open(sys.argv[1], "rb").read()
redraws = len(re.findall(rb"\r\x1b\[\d+A", raw))
# the run lasts about 3 s (30 steps of 0.1 s; longer on a loaded machine, as the summary says): 4 redraws
# a second at most, one for the note of its ports, and one for the end
if not 3 <= redraws <= 4 * float(sys.argv[2]) + 2:
    print("FAIL: %d redraws of the table" % redraws)
    sys.exit(1)
PY
tmux kill-session -t "$TMUX_SESSION"

echo "== read every 100 ms while boards run, the report never says more than it knows"
printf 'S00600004844521B\nS9030000FC\n' >"$WORK/fw.s28"
for i in 1 2 3 4 5; do head -c $((100 * i)) /dev/urandom >"$WORK/serial$i.bin"; done
for i in 1 2 4; do board "p$i" bytes=$((4096 * i)) step=0.05 block_retries=$i; done
board p3 bytes=2048 step=0.05 code=4 "error=Error:s|!refused $(printf '%200s')|" \
  "reason=block 3 refused after 8 attempts; answer '!refused'"
board p5 bytes=2048 step=0.05 oldevents=1  # today's vexal: no file events, no bytes apart
station_in_background "$WORK/plog" --ports "$WORK/p1,$WORK/p2,$WORK/p3,$WORK/p4,$WORK/p5" --jobs 3 --identify \
  --station "line 3" --operator kim --report "$WORK/p.json" --junit "$WORK/p.xml" \
  -- b115200 fw.s28 '@binput0FF000<serial{index}.bin'
python3 - "$WORK/p.json" "$WORK/p.xml" "$STATION_PID" <<'PY' || fail "the report while boards run"
import json, os, sys, time, xml.etree.ElementTree as ET
report, junit, pid = sys.argv[1], sys.argv[2], sys.argv[3]
seen, polls = set(), 0
while os.path.exists("/proc/" + pid) and open("/proc/%s/stat" % pid).read().split()[2] != "Z":
    time.sleep(0.1)
    polls += 1
    if not os.path.exists(report) or not os.path.exists(junit):
        continue
    for b in json.load(open(report))["boards"]:
        seen.add(b["result"])
        ended = os.path.exists(b["port"] + ".ended")
        if b["result"] in ("passed", "failed"):
            assert ended, ("called %s before its vexal ended" % b["result"], b)
        else:
            assert all(b[k] is None for k in ("exit_code", "end", "duration", "error", "bytes")), b
    for case in ET.parse(junit).getroot().iter("testcase"):
        if case.find("skipped") is None:
            port = case.get("name").split(" (")[1].rstrip(")")
            assert os.path.exists(port + ".ended"), ("a JUnit result before the end", case.attrib)
assert {"waiting", "running"} <= seen, ("never seen waiting and running", seen, polls)
PY
station_end
expect_status 1 "one board of five failed"
hashes=$(cd "$WORK" && sha256sum fw.s28 serial?.bin | awk '{printf "%s=%s ", $2, $1}')
json_check "$WORK/p.json" \
  'r["station"]["host"] == "'"$(hostname)"'" and r["station"]["station"] == "line 3"' \
  'r["station"]["operator"] == "kim" and r["station"]["identify"] is True and r["station"]["ended"].endswith("Z")' \
  'r["station"]["job"] == ["b115200", "fw.s28", "@binput0FF000<serial{index}.bin"]' \
  'all(b["job"][0] == "I000000" for b in r["boards"])' \
  '[b["result"] for b in r["boards"]] == ["passed", "passed", "failed", "passed", "passed"]' \
  'all(b["start"] < b["end"] and b["end"].endswith("Z") for b in r["boards"])' \
  'r["boards"][2]["error"] == "Error:s|!refused |"' \
  'r["boards"][2]["reason"] == "block 3 refused after 8 attempts; answer '"'"'!refused'"'"'"' \
  '[b["written"] for b in r["boards"]] == [4096, 8192, 2048, 16384, None]' \
  '[b["block_retries"] for b in r["boards"]] == [1, 2, 0, 4, None]' \
  '[b["text_retries"] for b in r["boards"]] == [1, 1, 1, 1, None]' \
  '[b["vexal_version"] for b in r["boards"]] == ["0.96"] * 4 + ["0.95"]' \
  'r["boards"][4]["files"] == [] and r["boards"][4]["read"] is None' \
  'all([f["role"] for f in b["files"]] == ["command", "binput"] for b in r["boards"][:4])' \
  'all(b["files"][1]["path"] == "serial%d.bin" % b["index"] for b in r["boards"][:4])' \
  'all("%s=%s " % (f["path"], f["sha256"]) in "'"$hashes"'" for b in r["boards"] for f in b["files"])' \
  'all(f["size"] == __import__("os").path.getsize("'"$WORK"'/" + f["path"]) for b in r["boards"] for f in b["files"])'
grep -qxF "  p3 ($WORK/p3): exit code 4: Error:s|!refused | (block 3 refused after 8 attempts; answer '!refused')" \
  "$WORK/plog" || fail "the summary lacks p3's reason: $(grep p3 "$WORK/plog")"
python3 - "$WORK/p.xml" <<'PY' || fail "the JUnit report's record"
import sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot().find("testsuite")
props = {p.get("name"): p.get("value") for p in suite.find("properties")}
assert props["station"] == "line 3" and props["operator"] == "kim", props
cases = suite.findall("testcase")
assert suite.get("skipped") == "0" and suite.get("failures") == "1", suite.attrib
assert "(block 3 refused after 8 attempts" in cases[2].find("failure").get("message")
out = cases[0].find("system-out").text
assert "file: command fw.s28 " in out and "sha256 " in out and "vexal: 0.96" in out, out
PY

echo "== a report path with a planted temporary link: the link is left alone, nothing outside written"
board q1 bytes=1024
ln -s "$WORK/outside" "$WORK/q.json.tmp"
station "$WORK/log" --ports "$WORK/q1" --report "$WORK/q.json" -- fw.s28
expect_status 0 "a report beside a planted link"
[[ $(cat "$WORK/outside") == keep && -L $WORK/q.json.tmp && -f $WORK/q.json && ! -L $WORK/q.json ]] ||
  fail "the planted link was written through"
json_check "$WORK/q.json" 'r["boards"][0]["result"] == "passed"'

echo "== a job that ignores SIGINT and SIGTERM: a third stop ends it, killed after the grace period"
board h1 bytes=409600 step=0.1 deaf=1
board h2 bytes=409600 step=0.1
station_in_background "$WORK/hlog" --ports "$WORK/h1,$WORK/h2" --report "$WORK/h.json" -- fw.s28
wait_for "$WORK/hlog" "h1  loading" 30  # h1 ignores SIGINT from here on
wait_for "$WORK/hlog" "h2  loading" 30
kill -INT "$STATION_PID"
wait_for "$WORK/hlog" "stopping; waiting for 2 running jobs"
kill -INT "$STATION_PID"
wait_for "$WORK/hlog" "interrupting 2 running jobs"
wait_for "$WORK/hlog" "h2  failed"
kill -TERM "$STATION_PID"  # a TERM after the second Ctrl-C counts as a third
wait_for "$WORK/hlog" "ending 1 running jobs; those still running in 3 s are killed"
station_end
grep -q "killing 1 jobs that did not end" "$WORK/hlog" || fail "no note of the kill: $(cat "$WORK/hlog")"
json_check "$WORK/h.json" '[b["exit_code"] for b in r["boards"]] == [137, 130]' \
  'r["boards"][0]["error"] == "vexal ended by signal 9 (Killed)"'

echo "== a Ctrl-C while the ports are listed is taken at once"
export FAKE_PORTS=$WORK/ports FAKE_LIST_DELAY=30 FAKE_LIST_RECORD=$WORK/llisting
station_in_background "$WORK/llog" --all -- fw.s28
wait_for "$WORK/llisting" '^started$'
begun=$SECONDS
kill -INT "$STATION_PID"
station_end
unset FAKE_PORTS FAKE_LIST_DELAY FAKE_LIST_RECORD
expect_status 1 "stopped while listing"
# Well short of the listing's 30 s, however loaded the machine.
((SECONDS - begun < 15)) || fail "the Ctrl-C waited $((SECONDS - begun)) s for the listing"
grep -q "stopped before any board started" "$WORK/llog" || fail "listing stopped: $(cat "$WORK/llog")"

echo "== 1100 ports under a limit of 1024 open files: the jobs beyond the limit wait their turn"
printf '#!/bin/sh\n[ "$1" = --list-ports ] && exit 0\nexec sleep 0.5\n' >"$WORK/tiny-vexal"
chmod +x "$WORK/tiny-vexal"
many=$(for i in $(seq -w 1100); do printf '%s/many/m%s,' "$WORK" "$i"; done)
(ulimit -n 1024 && cd "$WORK" && "$STATION" --vexal "$WORK/tiny-vexal" --ports "${many%,}" -- fw.s28 \
  >"$WORK/mlog" 2>&1)
STATUS=$?
expect_status 0 "1100 ports"
grep -q "^vexal-station: 960 jobs at once at most (the open-file limit); the others wait their turn" "$WORK/mlog" ||
  fail "no note of the limit: $(head -n 3 "$WORK/mlog")"
grep -Eq "^1100 boards: 1100 passed, 0 failed" "$WORK/mlog" ||
  fail "1100 ports: $(grep -m3 'boards:\|failed' "$WORK/mlog")"

echo "== the table at 80, 100 and 160 columns: number, port's end, phase, percent and result on every row"
mkdir -p "$WORK/serial/by-id"
for i in 1 2 3; do board "serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D$i-if00-port0" bytes=40960 step=0.1; done
board "serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0" bytes=1024 code=4 "error=Error:s|!refused |" \
  "reason=block 3 refused after 8 attempts"
# loading_rows_shown FRAME: true when rows 1 to 3 of FRAME are loading and show their percent
loading_rows_shown() {
  local n
  for n in 1 2 3; do
    grep -E "^ +$n  .*C3D$n-if00-port0  " "$1" | grep -Eq "  loading fi.*  +[0-9]+ %" || return 1
  done
}
wide_ports=$(ls -d "$WORK"/serial/by-id/*port0 | paste -sd,)
for width in 80 100 160; do
  tmux new-session -d -s "$TMUX_SESSION" -x "$width" -y 20 "cd '$WORK' && '$STATION' --vexal '$FAKE' \
    --ports '$wide_ports' -- fw.s28; echo status \$?; sleep 60"
  # One frame in which each of rows 1 to 3, those checked below, shows its percent. Row 4 fails quickly
  # and may show one too, so counting rows that do could take row 4 for one of them.
  for _ in $(seq 300); do
    pane >"$WORK/frame$width"
    loading_rows_shown "$WORK/frame$width" && break
    sleep 0.1
  done
  for _ in $(seq 600); do pane | grep -q "^status" && break; sleep 0.1; done
  pane >"$WORK/final$width"
  tmux kill-session -t "$TMUX_SESSION"
  python3 - "$WORK/frame$width" "$WORK/final$width" "$width" <<'PY' || fail "the table at $width columns"
import re, sys
frame, final, width = open(sys.argv[1]).read().splitlines(), open(sys.argv[2]).read().splitlines(), int(sys.argv[3])
def rows_of(lines):
    top = next(i for i, line in enumerate(lines) if line.startswith("  #  port"))
    rows = lines[top:top + 5]
    assert all(len(line) < width for line in rows), (width, [l for l in rows if len(l) >= width])
    rows = rows[1:]
    for n, row in enumerate(rows, 1):
        assert row.startswith("%3d  " % n) and "C3D%d-if00-port0  " % n in row, (width, row)
    return rows
for row in rows_of(frame)[:3]:
    assert re.search(r"  loading fi.*  +\d+ %", row), (width, row)
    assert ("VQ-3140" in row) == (width >= 160), (width, row)  # the identity goes first
assert re.search(r"exit 4: Error:s\|!refused", rows_of(final)[3]), (width, final)
PY
done

finish_checks
