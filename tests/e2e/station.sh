#!/usr/bin/env bash
# vexal-station end to end: the real vexal against several vq3140-sim boards side by side. The table as a
# log, the JSON and JUnit reports field by field, {index} and {name} giving each board its own files, a
# faulty board among good ones, the identity of each board, and watch mode in a scratch device folder
# where a board's by-id link appears, disappears and appears again.
#
#   station.sh BIN_DIR SOURCE_DIR
set -u

BIN=$(cd "$1" && pwd) || exit 1
source "$(dirname "$0")/lib/board.sh"
source "$(dirname "$0")/lib/loader.sh"  # fail, finish_checks
command -v srec_cat >/dev/null || { echo "srec_cat is needed (package srecord)"; exit 1; }
[[ -x $BIN/vexal-station ]] || { echo "missing $BIN/vexal-station"; exit 1; }
e2e_begin e2e-station
STATION_PID=
trap 'kill_station; e2e_end' EXIT

# Only this test's boards are listed: a device folder and a sysfs of its own.
export VEXAL_DEV_ROOT=$WORK/dev VEXAL_SYSFS_ROOT=$WORK/sys
mkdir -p "$WORK/dev" "$WORK/sys/class/tty" "$WORK/logs"

FW_BYTES=8192
head -c $FW_BYTES /dev/urandom >"$WORK/fw.bin"
srec_cat "$WORK/fw.bin" -binary -offset 0x010000 -o "$WORK/fw.s28" -motorola -address-length=3 \
  -Output_Block_Size 32 -disable=header -disable=data-count -execution-start-address=0x010000 2>/dev/null

kill_station() {
  [[ -n $STATION_PID ]] || return 0
  kill -TERM "$STATION_PID" 2>/dev/null
  wait "$STATION_PID" 2>/dev/null
  STATION_PID=
}

# station OUT ARGS...: the station in $WORK, its standard output in OUT; its status in STATUS
station() {
  local out=$1
  shift
  (cd "$WORK" && timeout 120 "$BIN/vexal-station" "$@" >"$out" 2>"$out.err")
  STATUS=$?
}

# json_check FILE PYTHON-EXPRESSIONS...: each must hold, with r the report and W the work folder
json_check() {
  local file=$1
  shift
  python3 - "$file" "$WORK" "$@" <<'PY' || fail "the report $file"
import json, sys
r, W = json.load(open(sys.argv[1])), sys.argv[2]
for check in sys.argv[3:]:
    if not eval(check):
        print("FAIL: %s: %s" % (sys.argv[1], check))
        print(json.dumps(r, indent=1)[:3000])
        sys.exit(1)
PY
}

# the board's memory at 0x010000 (its dump) holds the firmware
firmware_in() {
  cmp -s "$WORK/fw.bin" "$1" || fail "$(basename "$1"): the board's memory differs from the firmware"
}

echo "== four boards, one refusing blocks: the log, the reports, the memory"
for b in b1 b2 b3 b4; do
  faults=()
  [[ $b == b3 ]] && faults=(--fault refuse:every=20)
  start_board "$WORK/$b" --identity "VQ-3140 ZARVEN v1.28 $b" --dump "$WORK/$b.dump@010000,$(printf %X $FW_BYTES)" \
    "${faults[@]}"
done
station "$WORK/out" --ports "$WORK/b1,$WORK/b2,$WORK/b3,$WORK/b4" --logs "$WORK/logs" --report "$WORK/r.json" \
  --junit "$WORK/r.xml" -- b115200 fw.s28
[[ $STATUS == 1 ]] || fail "status $STATUS with a failed board, expected 1"
for b in b1 b2 b3 b4; do stop_board "$WORK/$b"; done
for b in b1 b2 b4; do firmware_in "$WORK/$b.dump"; done
grep -q $'\x1b' "$WORK/out" && fail "escape sequences in the log"
# vexal's error line as its console shows it; the event's text may go on past the console's 80 columns
# (the station keeps it without the console's padding blanks)
b3_error=$(grep -m1 '^Error' "$WORK/logs/b3.log" | tr -s ' ' | sed 's/ $//')
[[ -n $b3_error ]] || fail "b3's console log has no error line: $(cat "$WORK/logs/b3.log")"
for b in b1 b2 b3 b4; do
  lines=$(grep -E "^ +[0-9]+\.[0-9]{2} s  $b  " "$WORK/out" | sed -E 's/^ +[0-9.]+ s  [^ ]+  //')
  grep -qx 'opening' <<<"$lines" || fail "$b: no opening line: $lines"
  grep -qx 'loading fw.s28' <<<"$lines" || fail "$b: no loading line: $lines"
  if [[ $b == b3 ]]; then
    [[ $(tail -n 1 <<<"$lines") == "failed  exit code 4: $b3_error"* ]] || fail "b3's end: $(tail -n 1 <<<"$lines")"
  else
    [[ $(tail -n 1 <<<"$lines") =~ ^done\ \ $FW_BYTES\ bytes\ in\ [0-9.]+\ s$ ]] ||
      fail "$b's end: $(tail -n 1 <<<"$lines")"
  fi
  grep -Eq '^Exit code +[04]$' "$WORK/logs/$b.log" || fail "$b's console log: $(cat "$WORK/logs/$b.log")"
done
grep -Eq '^4 boards: 3 passed, 1 failed, [0-9.]+ s$' "$WORK/out" || fail "summary: $(grep boards: "$WORK/out")"
grep -qF "  b3 ($WORK/b3): exit code 4: $b3_error" "$WORK/out" || fail "the summary doesn't name b3's error"
json_check "$WORK/r.json" \
  'r["station"]["version"] == "0.95" and r["station"]["job"] == ["b115200", "fw.s28"]' \
  '(r["station"]["passed"], r["station"]["failed"], r["station"]["not_started"]) == (3, 1, 0)' \
  'r["station"]["seconds"] > 0 and 0 <= r["station"]["cpu_seconds"] < r["station"]["seconds"]' \
  '[b["index"] for b in r["boards"]] == [1, 2, 3, 4]' \
  '[b["name"] for b in r["boards"]] == ["b1", "b2", "b3", "b4"]' \
  'all(b["port"] == W + "/" + b["name"] for b in r["boards"])' \
  'all(b[k] is None for b in r["boards"] for k in ("by_id", "serial", "vid_pid"))' \
  'all(b["job"] == ["b115200", "fw.s28"] for b in r["boards"])' \
  'all(b["start"].endswith("Z") and len(b["start"]) == 24 and b["duration"] > 0 for b in r["boards"])' \
  '[b["exit_code"] for b in r["boards"]] == [0, 0, 4, 0]' \
  '[b["result"] for b in r["boards"]] == ["passed", "passed", "failed", "passed"]' \
  '[b["bytes"] for b in r["boards"] if b["result"] == "passed"] == ['$FW_BYTES'] * 3' \
  'r["boards"][2]["bytes"] < '$FW_BYTES \
  '[b["error"] for b in r["boards"] if b["name"] != "b3"] == ["", "", ""]' \
  'r["boards"][2]["error"].startswith("'"$b3_error"'")' \
  'all(b["log"] == W + "/logs/" + b["name"] + ".log" for b in r["boards"])'
python3 - "$WORK/r.xml" "$WORK" "$b3_error" <<'PY' || fail "the JUnit report"
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
W, error = sys.argv[2], sys.argv[3]
assert root.tag == "testsuites"
suite = root.find("testsuite")
assert suite.get("name") == "vexal-station"
assert (suite.get("tests"), suite.get("failures"), suite.get("errors"), suite.get("skipped")) == ("4", "1", "0", "0")
assert suite.get("timestamp").endswith("Z") and float(suite.get("time")) > 0
cases = suite.findall("testcase")
assert [c.get("name") for c in cases] == ["b%d (%s/b%d)" % (i, W, i) for i in range(1, 5)]
assert all(c.get("classname") == "vexal-station" and float(c.get("time")) > 0 for c in cases)
assert [c.find("failure") is None for c in cases] == [True, True, False, True]
failure = cases[2].find("failure")
assert failure.get("type") == "exit code 4" and failure.get("message").startswith("exit code 4: " + error)
assert failure.text == failure.get("message")
assert all(c.find("system-out").text.startswith("vexal: 0.95\n") and
           c.find("system-out").text.endswith("log: %s/logs/b%d.log\n" % (W, i)) for i, c in enumerate(cases, 1))
PY

echo "== each board its own files through {index} and {name}; each board's identity"
for i in 1 2 3; do
  head -c 256 /dev/urandom >"$WORK/data$i.bin"
  head -c 16 /dev/urandom >"$WORK/key-$i.bin"
  start_board "$WORK/c$i" --identity "VQ-3140 ZARVEN v1.28 c$i" --load "$WORK/data$i.bin@020000" \
    --dump "$WORK/c$i.dump@030000,10"
done
station "$WORK/out" --ports "$WORK/c1,$WORK/c2,$WORK/c3" --report "$WORK/r.json" \
  -- b115200 '@binput030000<key-{index}.bin' '@binget020000,000100>got-{index}-{name}.bin'
[[ $STATUS == 0 ]] || fail "the per-board files: status $STATUS: $(cat "$WORK/out")"
station "$WORK/out" --ports "$WORK/c1,$WORK/c2,$WORK/c3" --report "$WORK/id.json" --
[[ $STATUS == 0 ]] || fail "the identity query: status $STATUS: $(cat "$WORK/out")"
for i in 1 2 3; do stop_board "$WORK/c$i"; done
for i in 1 2 3; do
  cmp -s "$WORK/data$i.bin" "$WORK/got-$i-c$i.bin" || fail "got-$i-c$i.bin isn't board c$i's memory"
  cmp -s "$WORK/key-$i.bin" "$WORK/c$i.dump" || fail "board c$i wasn't given key-$i.bin"
done
json_check "$WORK/r.json" \
  '[b["job"][1:] for b in r["boards"]] == \
     [["@binput030000<key-%d.bin" % i, "@binget020000,000100>got-%d-c%d.bin" % (i, i)] for i in (1, 2, 3)]'
json_check "$WORK/id.json" \
  '[b["identity"] for b in r["boards"]] == ["VQ-3140 ZARVEN v1.28 c%d" % i for i in (1, 2, 3)]' \
  'all(b["job"] == [] for b in r["boards"])'

echo "== watch mode: a board's link appears, disappears and appears again; a port that doesn't match is left alone"
BY_ID=$WORK/dev/serial/by-id
mkdir -p "$BY_ID"
# vexal, noting each listing of the ports it has made: what the steps below wait for
cat >"$WORK/listing-vexal" <<EOT
#!/bin/sh
[ "\$1" = --list-ports ] || exec "$BIN/vexal" "\$@"
"$BIN/vexal" "\$@"
status=\$?
echo listed >>"$WORK/listings"
exit \$status
EOT
chmod +x "$WORK/listing-vexal"
listed() { { grep -c '^listed$' "$WORK/listings" 2>/dev/null || echo 0; } | head -n 1; }
wait_listed() {  # N WHAT: until the ports were listed more than N times
  for _ in $(seq 100); do
    (($(listed) > $1)) && return 0
    sleep 0.1
  done
  fail "$2: the ports were not listed again"
}
(cd "$WORK" && exec "$BIN/vexal-station" --vexal "$WORK/listing-vexal" --watch --match 'usb-VQ_*' \
  --logs "$WORK/wlogs" --report "$WORK/w.json" -- b115200 fw.s28 >"$WORK/wout" 2>&1) &
STATION_PID=$!
wait_until() {  # PATTERN COUNT: until COUNT lines of the watch log match
  for _ in $(seq 300); do
    (($(grep -Ec "$1" "$WORK/wout") >= $2)) && return 0
    sleep 0.1
  done
  fail "fewer than $2 lines matching '$1' in the watch log: $(cat "$WORK/wout")"
  return 1
}
wait_until '^watching ' 1
start_board "$BY_ID/usb-Phone_Maker_Phone-if01" --log "$WORK/phone.log"
start_board "$BY_ID/usb-VQ_Board_W1-if00" --dump "$WORK/w1.dump@010000,$(printf %X $FW_BYTES)"
wait_until 'usb-VQ_Board_W1-if00  done' 1
# A second link to the phone has the ports listed again while the board stays plugged in: its job must
# not run again (the count of its runs at the end says so).
seen=$(listed)
ln -s "$(readlink "$BY_ID/usb-Phone_Maker_Phone-if01")" "$BY_ID/usb-Phone_Maker_Phone-if02"
wait_listed "$seen" "a second link to the phone"
seen=$(listed)
stop_board "$BY_ID/usb-VQ_Board_W1-if00"
firmware_in "$WORK/w1.dump"
wait_listed "$seen" "the board's link deleted"
start_board "$BY_ID/usb-VQ_Board_W1-if00" --dump "$WORK/w2.dump@010000,$(printf %X $FW_BYTES)"
wait_until 'usb-VQ_Board_W1-if00  done' 2
seen=$(listed)
rm "$BY_ID/usb-Phone_Maker_Phone-if02"
wait_listed "$seen" "the phone's second link deleted"
kill -INT "$STATION_PID"
wait "$STATION_PID"
STATUS=$?
STATION_PID=
[[ $STATUS == 0 ]] || fail "watch mode ended with status $STATUS"
[[ $(grep -c 'usb-VQ_Board_W1-if00  done' "$WORK/wout") == 2 ]] || fail "the board ran its job more than twice"
stop_board "$BY_ID/usb-VQ_Board_W1-if00"
firmware_in "$WORK/w2.dump"
stop_board "$BY_ID/usb-Phone_Maker_Phone-if01"
grep -q ' in ' "$WORK/phone.log" && fail "the port that doesn't match was sent telegrams"
json_check "$WORK/w.json" '[b["result"] for b in r["boards"]] == ["passed", "passed"]' \
  'all(b["by_id"] == b["name"] == "usb-VQ_Board_W1-if00" for b in r["boards"])' \
  'all(b["port"].startswith("/dev/pts/") for b in r["boards"])' \
  '[b["log"][len(W):] for b in r["boards"]] == \
     ["/wlogs/usb-VQ_Board_W1-if00.log", "/wlogs/usb-VQ_Board_W1-if00-2.log"]'

finish_checks
