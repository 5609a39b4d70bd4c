#!/bin/bash
# vexal-station end to end against a fake vexal of the test's own (fake_vexal.py): the log, the reports,
# placeholders, --jobs, Ctrl-C once and twice, crashes, --all with --match, usage errors, watch mode in a
# scratch device folder, and the live table in a terminal (tmux).
#
#   bash flow.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(cd "$1" && pwd)
SOURCE=$(cd "$2" && pwd)
FAKE=$SOURCE/tests/station/fake_vexal.py
STATION="$BIN/vexal-station"
source "$SOURCE/scripts/lib/checks.sh"  # fail, finish_checks
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

# wait_for FILE PATTERN [SECONDS]: until a line of FILE matches the extended regular expression
wait_for() {
  local file=$1 pattern=$2 tenths=$((${3:-10} * 10))
  for _ in $(seq "$tenths"); do
    grep -Eq "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no line matching '$pattern' in $file within ${3:-10} s"
  cat "$file"
  return 1
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
  '[b["bytes"] for b in r["boards"]] == [8192, 4096, 3072]' \
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
assert cases[2].find("system-out").text.endswith("/logs/b3.log")
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
  'r["boards"][2]["error"] == "vexal ended with exit code 4 and no end event"'
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
wait_for "$WORK/log" "f2  loading"
kill -INT "$STATION_PID"
wait_for "$WORK/log" "stopping"
kill -INT "$STATION_PID"
station_end
expect_status 1 "interrupted boards"
grep -q "interrupting 2 running jobs" "$WORK/log" || fail "no note of the interruption"
json_check "$WORK/r.json" '[b["exit_code"] for b in r["boards"]] == [130, 130]' \
  'r["boards"][0]["error"] == "vexal ended by signal 2 (Interrupt)"' \
  'all(b["duration"] < 3 for b in r["boards"])'

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

echo "== usage errors end with status 2 before anything runs"
export FAKE_RECORD=$WORK/refused-record
while IFS='|' read -r args message; do
  read -ra words <<<"$args"
  station "$WORK/log" "${words[@]}"
  expect_status 2 "$args"
  [[ $(cat "$WORK/log.err") == "vexal-station: "*"$message"* ]] || fail "$args: $(cat "$WORK/log.err")"
done <<EOT
--watch -- fw.s28|--watch needs --match
--all --ports $WORK/g1|exclude each other
--ports $WORK/g1 --match usb-*|--match goes with --all or --watch
--ports $WORK/g1,$WORK/g1|the port $WORK/g1 is given twice
--ports $WORK/g1 -- {serial}.bin|unknown placeholder {serial}
--ports $WORK/g1 --jobs 0|--jobs needs a number
--ports $WORK/g1 --logs /proc/none/logs|can't make the log folder /proc/none/logs
--ports $WORK/g1 --report /proc/none/r.json|can't write /proc/none/r.json
EOT
unset FAKE_RECORD
[[ -e $WORK/refused-record ]] && fail "a refused command line ran a job"

echo "== watch mode: a port runs its job when its link appears, again only after it went away and came back"
mkdir -p "$WORK/dev"  # no serial/by-id yet: made once the first adapter is in, as udev does
board w1 bytes=2048
board phone bytes=2048
LINK=$WORK/dev/serial/by-id/usb-Maker_Board_W1-if00
export VEXAL_DEV_ROOT=$WORK/dev FAKE_RECORD=$WORK/watch-record
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
mkdir -p "$WORK/dev/serial/by-id"
ln -s "$WORK/w1" "$LINK"
ln -s "$WORK/phone" "$WORK/dev/serial/by-id/usb-Phone_Maker_Phone-if01"
wait_runs 1 "a port that appeared didn't run its job"
sleep 2.5
wait_runs 1 "a port still plugged in ran its job again"
rm "$LINK"
sleep 1.5
ln -s "$WORK/w1" "$LINK"
wait_runs 2 "a port that came back didn't run its job again"
rm "$LINK" && ln -s "$WORK/w1" "$LINK"  # out and in again between two listings
wait_runs 3 "a quick replug was missed"
rm -rf "$WORK/dev/serial"  # the last adapter out: udev removes the folders too
sleep 1.5
mkdir -p "$WORK/dev/serial/by-id" && ln -s "$WORK/w1" "$LINK"
wait_runs 4 "the by-id folder made again wasn't watched"
kill -INT "$STATION_PID"
station_end
unset VEXAL_DEV_ROOT FAKE_RECORD
expect_status 0 "watch mode ended by Ctrl-C with every job passed"
grep -q phone "$WORK/watch-record" && fail "a port that doesn't match was sent a job"
json_check "$WORK/w.json" 'len(r["boards"]) == 4 and r["station"]["passed"] == 4' \
  'all(b["by_id"] == "usb-Maker_Board_W1-if00" and b["port"] == "'"$WORK/w1"'" for b in r["boards"])' \
  '[b["log"].split("/")[-1] for b in r["boards"]] == ["usb-Maker_Board_W1-if00.log"] + \
     ["usb-Maker_Board_W1-if00-%d.log" % i for i in (2, 3, 4)]'

echo "== on a terminal: a live table redrawn in place, at most 4 times a second, the summary below it"
for i in 1 2 3; do board "t$i" bytes=30720 step=0.1; done
board t4 bytes=10240 step=0.1 code=4 "error=Error: Block refused."
tmux new-session -d -s "$TMUX_SESSION" -x 110 -y 20 "sleep 1; cd '$WORK' && '$STATION' --vexal '$FAKE' \
  --ports '$WORK/t1,$WORK/t2,$WORK/t3,$WORK/t4' -- fw.s28; echo status \$?; sleep 60"
tmux pipe-pane -o -t "$TMUX_SESSION" "cat >'$WORK/raw'"
pane() { tmux capture-pane -p -t "$TMUX_SESSION"; }
for _ in $(seq 100); do pane | grep -q "t1 .*loading firmware.s28 .*%" && break; sleep 0.1; done
pane >"$WORK/frame"
cursor_while_live=$(tmux display -p -t "$TMUX_SESSION" '#{cursor_flag}')
for _ in $(seq 100); do pane | grep -q "^status" && break; sleep 0.1; done
pane >"$WORK/final"
[[ $(grep -c '^  #  port' "$WORK/frame") == 1 ]] || fail "the table while it runs: $(cat "$WORK/frame")"
grep -Eq '^  1  t1  +VQ-3140 ZARVEN v1.28  loading firmware.s28 +[0-9]+ % +[0-9.]+ kB/s +[0-9.]+ s$' "$WORK/frame" ||
  fail "a row while loading: $(grep '  1  t1' "$WORK/frame")"
[[ $cursor_while_live == 0 ]] || fail "the cursor shows while the table is live"
[[ $(tmux display -p -t "$TMUX_SESSION" '#{cursor_flag}') == 1 ]] || fail "the cursor stays hidden after the end"
[[ $(grep -c '^  #  port' "$WORK/final") == 1 ]] || fail "the table was drawn more than once: $(cat "$WORK/final")"
grep -Eq '^  4  t4  .*failed .*exit 4: Error: Block refused.$' "$WORK/final" ||
  fail "the failed row: $(cat "$WORK/final")"
sed -n '/^  #  port/,/^status/p' "$WORK/final" | sed -E 's/ +[0-9.]+ (s|kB\/s)/ N/g' >"$WORK/final.shape"
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
python3 - "$WORK/raw" <<'PY' || fail "the table's pace"
import re, sys
raw = open(sys.argv[1], "rb").read()
redraws = len(re.findall(rb"\r\x1b\[\d+A", raw))
# the run lasts about 3 s (30 steps of 0.1 s): 4 redraws a second at most, and one for the end
if not 3 <= redraws <= 4 * 4 + 1:
    print("FAIL: %d redraws of the table" % redraws)
    sys.exit(1)
PY
tmux kill-session -t "$TMUX_SESSION"

finish_checks
