#!/bin/bash
# What a run leaves behind when its surroundings fail it, and what its events record, through
# vq3140-sim as a caller sees it:
#   - a reader that goes away (| head -3, an events pipe closed early): the run goes on to its end;
#   - SIGHUP in the middle of a memory read: "Error: Interrupted.", the file holds what was read, the
#     port is free again even for a user who is not root, the process ends by the signal;
#   - event and trace FIFOs without a reader: said on standard error, the run goes on;
#   - a terminal given as the port gets its settings back;
#   - events: an identity byte that is not UTF-8 still gives valid JSON, each file opened is recorded
#     with the size and digest sha256sum gives, written and read bytes apart, and the retries equal
#     the answers the board dropped.
#
#   bash run_record.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(realpath "${1:?usage: run_record.sh BIN_DIR SOURCE_DIR}")
SRC=$(realpath "${2:?usage: run_record.sh BIN_DIR SOURCE_DIR}")
source "$(dirname "$0")/lib/board.sh"
source "$(dirname "$0")/lib/loader.sh"
e2e_begin run-record
SIM_OPTIONS=(--log "$WORK/sim.log")
IMAGE_BYTES=$((0x40000))  # a read of several seconds: long enough to be cut in its middle

# json_field FILE EVENT KEY: KEY of the last EVENT line of the events FILE (every line must be JSON)
json_field() {
  python3 - "$@" <<'EOF'
import json, sys
path, kind, key = sys.argv[1:4]
value = None
for line in open(path, encoding="utf-8"):
    event = json.loads(line)
    if event["event"] == kind:
        value = event.get(key)
print("" if value is None else value)
EOF
}

# file_events FILE: "role path size sha256" a line, for every file event
file_events() {
  python3 -c 'import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    e = json.loads(line)
    if e["event"] == "file": print(e["role"], e["path"], e.get("size", "-"), e.get("sha256", "-"))' "$1"
}

vexal_in_work() { (cd "$WORK" && exec env VEXAL_COM1="$WORK/com1" "$BIN/vexal" "$@"); }

step_reader_gone() {
  start_sim
  local statuses
  vexal_in_work "@binget000000,010000>head.bin" 2>"$WORK/head.err" | head -3 >/dev/null
  statuses=("${PIPESTATUS[@]}")
  [[ ${statuses[0]} == 0 ]] || fail "vexal | head -3: status ${statuses[0]}, not 0"
  [[ $(stat -c %s "$WORK/head.bin") == $((0x10000)) ]] || fail "vexal | head -3: the read stopped short"
  [[ $(grep -c "can't write the console to standard output" "$WORK/head.err") == 1 ]] ||
    fail "vexal | head -3: the closed output not said once: $(cat "$WORK/head.err")"

  (cd "$WORK" && VEXAL_COM1="$WORK/com1" VEXAL_EVENTS=3 "$BIN/vexal" "@binget000000,010000>ev.bin" \
    3> >(head -n 1 >/dev/null) >/dev/null 2>"$WORK/events-gone.err")
  local status=$?
  [[ $status == 0 ]] || fail "events pipe closed early: status $status, not 0"
  [[ $(grep -c "can't write events to 3" "$WORK/events-gone.err") == 1 ]] ||
    fail "events pipe closed early: not said once: $(cat "$WORK/events-gone.err")"
  stop_sim
}

step_hangup_mid_read() {
  head -c "$IMAGE_BYTES" /dev/urandom >"$WORK/image.bin"
  start_sim --load "$WORK/image.bin@000000"
  chmod 755 "$WORK"
  chmod 666 "$(readlink -f "$WORK/com1")"  # a non-root user may open the port, unless it is held
  local length
  length=$(printf '%06X' "$IMAGE_BYTES")
  (cd "$WORK" && VEXAL_COM1="$WORK/com1" VEXAL_EVENTS="$WORK/hup.jsonl" exec "$BIN/vexal" \
    "@binget000000,$length>part.bin" >"$WORK/hup.log" 2>"$WORK/hup.err") &
  local pid=$! waited=0
  while [[ $(stat -c %s "$WORK/part.bin" 2>/dev/null || echo 0) -lt 4096 && $waited -lt 200 ]]; do
    sleep 0.05
    waited=$((waited + 1))
  done
  kill -HUP "$pid"
  wait "$pid" 2>/dev/null
  local status=$? size read
  [[ $status == 129 ]] || fail "SIGHUP: status $status, not 129 (ended by the signal)"
  grep -q "Error: Interrupted." "$WORK/hup.log" || fail "SIGHUP: no 'Error: Interrupted.' in the log"
  size=$(stat -c %s "$WORK/part.bin")
  read=$(json_field "$WORK/hup.jsonl" end read)
  [[ $size -gt 0 && $size -lt $IMAGE_BYTES ]] || fail "SIGHUP: $size bytes read, not part of the image"
  [[ $size == "$read" ]] || fail "SIGHUP: the file holds $size bytes, the end event says $read were read"
  cmp -s "$WORK/part.bin" <(head -c "$size" "$WORK/image.bin") || fail "SIGHUP: the file differs from the board's"
  setpriv --reuid=nobody --regid=nogroup --clear-groups env VEXAL_COM1="$WORK/com1" "$BIN/vexal" I000000 \
    >"$WORK/after.log" 2>&1 || fail "SIGHUP: the port is not free for a non-root user: $(tail -n 3 "$WORK/after.log")"
  stop_sim
}

step_fifos_without_reader() {
  start_sim
  mkfifo "$WORK/events.fifo" "$WORK/trace.fifo"
  (cd "$WORK" && VEXAL_COM1="$WORK/com1" VEXAL_EVENTS="$WORK/events.fifo" VEXAL_TRACE="$WORK/trace.fifo" \
    timeout 30 "$BIN/vexal" I000000 >"$WORK/fifo.log" 2>"$WORK/fifo.err")
  local status=$?
  [[ $status == 0 ]] || fail "FIFOs without a reader: status $status, not 0 (124: it hung)"
  [[ $(grep -c "a FIFO that no one reads" "$WORK/fifo.err") == 2 ]] ||
    fail "FIFOs without a reader: not both said: $(cat "$WORK/fifo.err")"
  stop_sim
}

step_terminal_settings_back() {
  start_sim
  stty -F "$WORK/com1" sane 9600
  local before after
  before=$(stty -F "$WORK/com1" -g)
  vexal_in_work I000000 >/dev/null 2>&1 || fail "terminal settings: the run failed"
  after=$(stty -F "$WORK/com1" -g)
  [[ $before == "$after" ]] || fail "terminal settings not put back: $before became $after"
  stop_sim
}

step_identity_not_utf8() {
  start_sim --identity "$(printf 'VQ-3140 caf\xe9 v1')"
  (cd "$WORK" && VEXAL_COM1="$WORK/com1" VEXAL_EVENTS="$WORK/id.jsonl" "$BIN/vexal" I000000 >/dev/null 2>&1)
  local id
  id=$(json_field "$WORK/id.jsonl" identity id) || fail "identity 0xE9: an event line is not JSON"
  [[ $id == "VQ-3140 café v1" ]] || fail "identity 0xE9: '$id'"
  stop_sim
}

step_files_recorded() {
  head -c 3000 /dev/urandom >"$WORK/put.bin"
  printf 'S20801000001020304EC\nS804000000FB\n' >"$WORK/fw.s28"
  printf 'S20801000001020304EC\nS804000000FB\n' >"$WORK/check.s28"
  printf '@binput020000<put.bin\n@verify<check.s28\n' >"$WORK/inner.txt"
  printf '#inner.txt\n' >"$WORK/job.txt"
  start_sim
  (cd "$WORK" && VEXAL_COM1="$WORK/com1" VEXAL_EVENTS="$WORK/files.jsonl" "$BIN/vexal" fw.s28 job.txt \
    >"$WORK/files.log" 2>&1) || fail "files: the run failed: $(tail -n 3 "$WORK/files.log")"
  local expected
  expected=$(cd "$WORK" && for f in "command fw.s28" "command job.txt" "nested inner.txt" "binput put.bin" \
    "verify check.s28"; do
    set -- $f
    echo "$1 $2 $(stat -c %s "$2") $(sha256sum "$2" | cut -d' ' -f1)"
  done)
  [[ $(file_events "$WORK/files.jsonl") == "$expected" ]] ||
    fail "file events differ from sha256sum's: $(file_events "$WORK/files.jsonl")"
  [[ $(json_field "$WORK/files.jsonl" end written) == 3004 ]] || fail "files: written is not 3004"
  [[ $(json_field "$WORK/files.jsonl" end read) == 4 ]] || fail "files: read is not 4"
  stop_sim
}

step_retries_counted() {
  { head -n 300 "$SRC/examples/firmware.s28"; tail -n 1 "$SRC/examples/firmware.s28"; } >"$WORK/blocks.s28"
  start_sim --fault drop:every=7
  (cd "$WORK" && VEXAL_COM1="$WORK/com1" VEXAL_EVENTS="$WORK/drop.jsonl" "$BIN/vexal" blocks.s28 \
    "@binput030000<put.bin" >/dev/null 2>&1) || fail "retries: the run failed"
  stop_sim
  local dropped text block
  dropped=$(grep -c "answer not sent" "$WORK/sim.log")
  text=$(json_field "$WORK/drop.jsonl" end text_retries)
  block=$(json_field "$WORK/drop.jsonl" end block_retries)
  [[ $dropped -gt 0 && $((text + block)) == "$dropped" ]] ||
    fail "retries: $text text and $block block retries for $dropped dropped answers"
  [[ $block -gt 0 ]] || fail "retries: no block retry counted"
}

step_reader_gone
step_hangup_mid_read
step_fifos_without_reader
step_terminal_settings_back
step_identity_not_utf8
step_files_recorded
step_retries_counted
finish_checks
