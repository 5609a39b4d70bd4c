#!/bin/bash
# The bad-input catalogue (docs/bad-input.md), the rows that need the real program, a real port or a
# board that goes away: each mistake ends with its exit code and message (the port's reason on standard
# error), and the board's log shows what reached it: for most rows nothing at all.
#
#   bash bad_input.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(realpath "${1:?usage: bad_input.sh BIN_DIR SOURCE_DIR}")
source "$(dirname "$0")/lib/board.sh"
source "$(dirname "$0")/lib/loader.sh"
e2e_begin bad-input
SIM_OPTIONS=(--log "$WORK/sim.log")    # the board logs what it receives
UNPLUG_AFTER=3       # the board vanishes once it has received this many telegrams of a run
UNPLUG_BOUND_S=30    # nine attempts of 306 ms, and much room: past this it would be a hang
FIFO_BOUND_S=20      # a FIFO read twice would wait for a writer forever

# Telegrams the board received since the run began (one board may serve several runs).
log_count() { awk '$2 == "in"' "$WORK/sim.log" 2>/dev/null | wc -l; }
received() { echo $(($(log_count) - BEFORE)); }

# run_counted ARGS...: run_vexal, counting the board's telegrams from here.
run_counted() {
  BEFORE=$(log_count)
  run_vexal "$@"
}

# failed_case MISTAKE WHY: a failed check, with the end of the run's console output.
failed_case() {
  fail "$1: $2"
  sed 's/^/        | /' "$WORK/vexal.log" | tr '\r' '\n' | tail -n 4
}

# expect MISTAKE CODE MESSAGE TELEGRAMS [STDERR]: the last run ended with CODE, printed MESSAGE, the
# board received TELEGRAMS telegrams ('-': any number), and standard error holds STDERR. The console
# breaks lines at 80 columns, so the message is looked for with the breaks taken out.
expect() {
  local mistake=$1 code=$2 message=$3 telegrams=$4 stderr=${5:-}
  if [[ $STATUS -ne $code ]]; then failed_case "$mistake" "exit code $STATUS, not $code"
  elif ! tr -d '\n' <"$WORK/vexal.log" | grep -qF -- "$message"; then failed_case "$mistake" "no '$message'"
  elif [[ $telegrams != - && $(received) -ne $telegrams ]]; then failed_case "$mistake" "the board received $(received) telegram(s), not $telegrams"
  elif [[ -n $stderr ]] && ! grep -qF -- "$stderr" "$WORK/vexal.err"; then failed_case "$mistake" "standard error lacks '$stderr': $(cat "$WORK/vexal.err")"
  else echo "ok      $mistake (exit code $code)"; fi
}

# srecords FROM TO: S2 records of 32 bytes covering FROM..TO, then the S8 record.
srecords() {
  python3 - "$1" "$2" <<'EOF'
import sys
lo, hi = int(sys.argv[1], 16), int(sys.argv[2], 16)
for a in range(lo, hi, 32):
    body = bytes([36]) + a.to_bytes(3, "big") + bytes((a + i) & 0xFF for i in range(32))
    print("S2" + body.hex().upper() + "%02X" % (~sum(body) & 0xFF))
print("S804000000FB")
EOF
}

check_arguments_and_files() {
  start_sim
  run_counted "$(printf 'x%.0s' $(seq 128))"
  expect "an argument of 128 characters" 1 "Error: Argument 1 is longer than 127 characters." 0
  run_counted $(seq 128)
  expect "128 arguments" 1 "Error: Too many arguments (at most 127)." 0
  run_counted missing.txt
  expect "a command file that is not there" 3 "Error: Can't open file missing.txt" 0
  mkdir -p "$WORK/folder.txt"
  run_counted folder.txt
  expect "a command file that is a folder" 3 "Error: Can't read file folder.txt" 0
  run_counted "@binget000000,000010>no/such/folder.bin"
  expect "a memory read into a folder that is not there" 3 "Error: Can't open file no/such/folder.bin" 0
  run_counted "@binget000000,000080>/dev/full"
  expect "a memory read onto a full disk" 3 "Error: Can't write to file /dev/full" 2
  run_counted "@binput000000<folder.txt"
  expect "a memory write from a folder" 3 "Error: Can't read file folder.txt" 0
  run_counted "@bingetFFFFC0,000080>top.bin"
  expect "a memory read past the top of memory" 9 "Error: Range outside memory 000000-FFFFFF: FFFFC0,000080" 0
  run_counted "@hexget-00010,000010>negative.txt"
  expect "a memory read at a negative address" 9 "Error: Range outside memory 000000-FFFFFF: -000010,000010" 0
  head -c 100 /dev/zero >"$WORK/big.bin"
  run_counted "@binputFFFFC0<big.bin"
  expect "a memory write past the top of memory" 9 "Error: File doesn't fit below address 1000000: big.bin" 0
  printf 'S2%s\n' "$(printf '0%.0s' $(seq 260))" >"$WORK/long.s28"
  run_counted long.s28
  expect "an S-record line longer than 244 characters" 3 "Error: Line 1 of long.s28 is longer than 244 characters." 0
  printf '\x7fELF\x02\x01\x01\x00\x00\x00\n\x03\x00>\x00' >"$WORK/program.bin.txt"
  run_counted program.bin.txt
  expect "a binary program as a command file: its zero bytes end the run" 3 \
    "Error: Line 1 of program.bin.txt holds a NUL byte." 0
  stop_sim
}

check_ports() {
  PORT=$WORK/no-such-device run_counted I000000
  expect "a port that is not there" 2 "Wrong settings, can't initialize UART" - "can't open COM1 ($WORK/no-such-device)"
  PORT=/dev/null run_counted I000000
  expect "a port that is no serial port" 2 "Wrong settings, can't initialize UART" - "not a serial port"

  start_sim --fault silent:after=0
  (cd "$WORK" && VEXAL_COM1=$WORK/com1 timeout 60 "$BIN/vexal" I000000 >"$WORK/holder.txt" 2>&1) &
  local holder=$!
  for _ in $(seq 250); do
    grep -q "UART init O.K." "$WORK/holder.txt" 2>/dev/null && break
    sleep 0.02
  done
  run_counted I000000
  expect "a port another vexal holds" 2 "Wrong settings, can't initialize UART" - "is in use by another program"
  wait "$holder"
  stop_sim

  if [[ $(id -u) -eq 0 ]] && command -v runuser >/dev/null && [[ -x $BIN/vexal ]]; then
    start_sim
    # A copy in the work folder: the build may stand where the other user can't reach it (under /root).
    chmod 755 "$WORK"
    install -m 755 "$BIN/vexal" "$WORK/vexal-as-nobody"
    BEFORE=$(log_count)
    (cd "$WORK" && VEXAL_COM1=$WORK/com1 runuser -u nobody -- "$WORK/vexal-as-nobody" I000000 >"$WORK/vexal.log" 2>"$WORK/vexal.err")
    STATUS=$?
    expect "a port the user may not open" 2 "Wrong settings, can't initialize UART" 0 "Permission denied (the user may need to be in the dialout group"
    stop_sim
  else
    echo "skip    a port the user may not open (needs root to play another user)"
  fi
}

# unplug NAME CODE MESSAGE ARGS...: the board vanishes a few telegrams into the run (its end of the
# line closes, as when a USB adapter is pulled); the run must end with CODE within the bound.
unplug() {
  local mistake=$1 code=$2 message=$3
  shift 3
  start_sim
  (
    for _ in $(seq 500); do (($(log_count) >= UNPLUG_AFTER)) && break; sleep 0.02; done
    kill -KILL "$SIM_PID"
  ) &
  local killer=$!
  {
    run_counted "$@"
    wait "$killer"
    wait "$SIM_PID"
  } 2>/dev/null  # the board was killed on purpose: no notice of it
  SIM_PID=
  if [[ $TOOK -gt $UNPLUG_BOUND_S ]]; then failed_case "$mistake" "took $TOOK s"; return; fi
  expect "$mistake" "$code" "$message" -
}

check_unplugged() {
  srecords 000000 100000 >"$WORK/big.s28"
  unplug "the board unplugged during a memory read" 5 "Error: No response." "@binget000000,FFFFFF>all.bin"
  unplug "the board unplugged during a download (a block never answered)" 4 "Error:s|" big.s28
}

# wait_fifo_open PID: until the vexal of PID (PID itself, or its child under timeout) has opened the port
# and sleeps opening a FIFO that has no writer (its kernel wait is named where the kernel shows it, else
# it is asleep after the port's line in its log); a bound of 10 s guards against a hang.
wait_fifo_open() {
  local pid=$1 vexal wchan
  for _ in $(seq 500); do
    vexal=$(pgrep -P "$pid" -x vexal || echo "$pid")
    wchan=$(cat "/proc/$vexal/wchan" 2>/dev/null)
    [[ $wchan == wait_for_partner ]] && return 0
    if [[ $wchan == 0 ]] && grep -q "UART init O.K." "$WORK/vexal.log" &&
      [[ $(awk '{print $3}' "/proc/$vexal/stat" 2>/dev/null) == S ]]; then
      return 0
    fi
    sleep 0.02
  done
  fail "vexal (under process $1) never waited for the FIFO's writer"
}

# fifo NAME TEXT: a FIFO in $WORK that a writer in the background fills once with TEXT.
fifo() {
  rm -f "$WORK/$1"
  mkfifo "$WORK/$1"
  (printf '%b' "$2" >"$WORK/$1" &)
}

check_files_read_once() {
  start_sim
  fifo job.txt 'I000000\n'
  RUN_TIMEOUT=$FIFO_BOUND_S run_counted job.txt
  expect "a command file that is a FIFO: read once, its command sent" 0 "Loading completed with no errors." 1
  fifo data.bin '\x01\x02\x03'
  RUN_TIMEOUT=$FIFO_BOUND_S run_counted "@binput000100<data.bin"
  expect "a memory write from a FIFO" 0 "Loading completed with no errors." 1
  grep -q 'W000100<010203' "$WORK/sim.log" || failed_case "a memory write from a FIFO" "the board did not get W000100<010203"
  fifo check.s28 'S207000100010203F1\nS804000000FB\n'
  RUN_TIMEOUT=$FIFO_BOUND_S run_counted "@verify<check.s28"
  expect "a verify of a FIFO" 0 "Verified 3 bytes." 1
  fifo flipped.s28 'S207000100010203F1\nS207000200010203EF\nS804000000FB\n'
  RUN_TIMEOUT=$FIFO_BOUND_S run_counted flipped.s28
  expect "a FIFO of records, the second one's checksum wrong: checked as read" 3 "Bad format:EF" 0
  # A command file's name holds a '.': the devices under names that say so.
  ln -sf /dev/zero "$WORK/zero.txt"
  ln -sf /dev/urandom "$WORK/random.txt"
  # Devices that never end are refused at their opening, before any line is read or sent.
  RUN_TIMEOUT=$FIFO_BOUND_S run_counted zero.txt
  expect "/dev/zero as a command file: refused at once" 3 "Error: zero.txt is a device, not a file of lines." 0
  RUN_TIMEOUT=$FIFO_BOUND_S run_counted random.txt
  expect "/dev/urandom as a command file: refused at once" 3 "Error: random.txt is a device, not a file of lines." 0
  printf '\xEF\xBB\xBFS207000100010203F1\nS804000000FB\n' >"$WORK/bom.s28"
  run_counted bom.s28
  expect "a firmware that begins with a byte-order mark: the block and the S8 line go out" 0 \
    "Loading completed with no errors." 2
  # Ctrl-C while vexal waits for a FIFO's writer: the wait is cut short.
  rm -f "$WORK/nowriter.txt"
  mkfifo "$WORK/nowriter.txt"
  (cd "$WORK" && exec env VEXAL_COM1="$WORK/com1" timeout "$FIFO_BOUND_S" "$BIN/vexal" nowriter.txt >"$WORK/vexal.log" 2>"$WORK/vexal.err") &
  local waiting=$!
  wait_fifo_open "$waiting"
  kill -INT "$waiting"
  wait "$waiting"
  STATUS=$?
  expect "Ctrl-C while a command file (a FIFO) waits for its writer" 130 "Error: Interrupted." -
  # Ctrl-C while @verify reads a FIFO whose writer stalls mid-line: the read is cut short at once.
  check_stalled_fifo_verify
  stop_sim
}

# The writer opens the FIFO, writes half a record and stalls; once it has (its mark file says so), a
# SIGINT must end vexal at once, not when the writer ends.
check_stalled_fifo_verify() {
  rm -f "$WORK/stalled.s28" "$WORK/stalled.mark"
  mkfifo "$WORK/stalled.s28"
  (cd "$WORK" && exec env VEXAL_COM1="$WORK/com1" timeout "$FIFO_BOUND_S" "$BIN/vexal" "@verify<stalled.s28" \
    >"$WORK/vexal.log" 2>"$WORK/vexal.err") &
  local running=$!
  (printf 'S2070001' >&3 && : >"$WORK/stalled.mark" && exec sleep "$FIFO_BOUND_S") 3>"$WORK/stalled.s28" &
  local writer=$!
  local tries=0
  while [[ ! -e $WORK/stalled.mark && $tries -lt 500 ]]; do
    sleep 0.01
    tries=$((tries + 1))
  done
  local start=$(date +%s%N)
  kill -INT "$running"
  wait "$running"
  STATUS=$?
  local took_ms=$((($(date +%s%N) - start) / 1000000))
  kill "$writer" 2>/dev/null
  wait "$writer" 2>/dev/null
  expect "Ctrl-C while @verify reads a FIFO whose writer stalls mid-line" 130 "Error: Interrupted." -
  [[ $took_ms -lt 1000 ]] || failed_case "Ctrl-C while @verify reads a stalled FIFO" "it took $took_ms ms"
}

# @verify must check something: a file with no data record is an error, S1 and S3 records are data.
# It reads its file as @load does: a command file's lines are no firmware file.
check_verify() {
  start_sim
  printf 'S0030000FC\nS804000000FB\n' >"$WORK/header.s28"
  run_counted "@verify<header.s28"
  expect "@verify of a file without a data record" 9 "Error: No data record to verify in file header.s28" 0
  printf ';no records here\nI000000\n' >"$WORK/notes.s28"
  run_counted "@verify<notes.s28"
  expect "@verify of a command file" 3 "Error: notes.s28 is no S-record, Intel HEX or ELF file" 0
  ln -sf /dev/zero "$WORK/zero.s28"
  RUN_TIMEOUT=$FIFO_BOUND_S run_counted "@verify<zero.s28"
  expect "@verify of /dev/zero: refused at its first bytes, memory bounded" 3 \
    "Error: zero.s28 is no S-record, Intel HEX or ELF file (it begins with 00 00" 0
  printf 'S1050020616217\nS307000123456364C8\nS9030000FC\n' >"$WORK/s13.txt"
  run_counted s13.txt
  run_counted "@verify<s13.txt"
  expect "@verify of S1 and S3 records the download sent as text" 0 "Verified 4 bytes." 2
  stop_sim
}

# srec TYPE ADDRESS DATA [CHECKSUM]: one record line, its checksum computed unless given.
srec() {
  python3 - "$@" <<'EOF'
import sys
kind, address, data = sys.argv[1], sys.argv[2], sys.argv[3]
body = bytes.fromhex(address + data)
body = bytes([len(body) + 1]) + body
print("S" + kind + body.hex().upper() + (sys.argv[4] if len(sys.argv) > 4 else "%02X" % (~sum(body) & 0xFF)))
EOF
}

# byte_at FILE: the first byte of a file in $WORK, as two upper-case digits.
byte_at() { od -An -tx1 -N1 "$WORK/$1" | tr -d ' \n' | tr a-f A-F; }

# Records checked whole before the first telegram, ended by their S8, written in the file's order.
check_records() {
  start_sim
  local s8 good
  s8=$(srec 8 000000 '')
  good=$(srec 2 000100 010203)
  printf '%s\n%s\n' "$(srec 2 000100 010203 F2)" "$s8" >"$WORK/flip.s28"
  run_counted flip.s28
  expect "an S2 record whose checksum is wrong" 3 "Bad format:F2" 0 \
    "flip.s28 line 1: the record states checksum F2, its bytes give F1"
  run_counted --ignore-checksums flip.s28
  expect "the same file with --ignore-checksums" 0 "Loading completed with no errors." 2
  run_counted old flip.s28
  expect "the same file sent as text (old)" 3 "Bad format:F2" 0
  printf '%s\n%s\n' "$good" "$(srec 8 000000 '' FC)" >"$WORK/s8flip.s28"
  run_counted s8flip.s28
  expect "an S8 record whose checksum is wrong" 3 "Bad format:FC" 0
  printf '%s\n%s\n' "${good:0:3}6${good:4}" "$s8" >"$WORK/count.s28"
  run_counted count.s28
  expect "a count one short of the pairs the line holds" 3 "Bad format:03F1" 0 "count.s28 line 1: the line holds more"
  printf '%s\n%s\n' "$good" "$(srec 2 000100 0102 00)" >"$WORK/verify-flip.s28"
  run_counted "@verify<verify-flip.s28"
  expect "@verify of a record whose checksum is wrong" 3 "Error: verify-flip.s28: line 2 has the checksum 00" 0
  printf '%s\n%s\nI000000\n%s\n%s\n' "$good" "$(srec 2 000200 0405)" "S20600030006ZZ00" "$s8" >"$WORK/late.s28"
  run_counted late.s28
  expect "a bad record after good ones and a command: the file sends nothing" 3 "Bad format:ZZ00" 0
  printf '%s\nI000000\nC\0D\n' "$good" >"$WORK/nul.s28"
  run_counted nul.s28
  expect "a NUL byte after records: the file sends nothing" 3 "Error: Line 3 of nul.s28 holds a NUL byte." 0
  printf 'I000000\n#late.s28\n' >"$WORK/outer.txt"
  run_counted outer.txt
  expect "a nested file with a bad record fails at its opening" 3 "Bad format:ZZ00" 1

  printf '%s\n' "$good" >"$WORK/cut.s28"
  run_counted cut.s28
  expect "records without their S8: the block goes, the run fails" 3 \
    "Error: The S-records ended without their S8 record, so the board never confirmed the download" 1 \
    "-execution-start-address"
  run_counted old cut.s28
  expect "records sent as text (old) without their S8" 3 "Error: The S-records ended without their S8 record" 1
  printf '%s\n' "$s8" >"$WORK/end.s28"
  run_counted cut.s28 end.s28
  expect "records split over two files, the S8 in the last" 0 "Loading completed with no errors." 2
  printf '%s\n%s\n%s\n' "$good" "$(srec 5 0002 '')" "$s8" >"$WORK/s5.s28"
  run_counted s5.s28
  expect "a count record that disagrees with the records before it" 3 \
    "Error: Line 2 of s5.s28 counts 2 data records, the file holds 1 before it." 0
  printf '\x01\x02\x03' >"$WORK/three.bin"
  srec_cat "$WORK/three.bin" -binary -offset 0x100 -o "$WORK/nos8.s28" -motorola -address-length=3 2>/dev/null
  run_counted nos8.s28
  expect "a file made by srec_cat without an execution start address (S5, no S8)" 3 \
    "Error: The S-records ended without their S8 record" - "srec_cat writes one when given -execution-start-address"

  printf '%s\n%s\n%s\n' "$(srec 2 000400 AAAA)" "$(srec 1 0400 BB)" "$s8" >"$WORK/rewrite.s28"
  run_counted rewrite.s28 "@binget000400,000001>rewrite.bin"
  expect "an S1 (sent as text) rewriting the S2 block above it" 0 "Loading completed with no errors." 4
  [[ $(byte_at rewrite.bin) == BB ]] ||
    failed_case "an S1 rewriting the S2 block above it" "the board holds $(byte_at rewrite.bin), not BB"
  printf '%s\n' "$(srec 2 000500 CC)" >"$WORK/last.s28"
  run_counted last.s28 "@binget000500,000001>last.bin"
  expect "a read after a file without S8 finds its last block written" 3 \
    "Error: The S-records ended without their S8 record" 2
  [[ $(byte_at last.bin) == CC ]] ||
    failed_case "a read after a file without S8" "the board holds $(byte_at last.bin), not CC"

  printf '%s\n' "$(srec 2 000600 111111)" >"$WORK/first.s28"
  printf '\xEF\xBB\xBF%s\n%s\n' "$(srec 2 000603 222222)" "$s8" >"$WORK/second.s28"
  cat "$WORK/first.s28" "$WORK/second.s28" >"$WORK/joined.s28"
  run_counted joined.s28 "@verify<joined.s28"
  expect "two files joined, the second with a byte-order mark: download and verify take all 6 bytes" 0 \
    "Verified 6 bytes." -
  stop_sim
}

check_arguments_and_files
check_records
check_verify
check_files_read_once
check_ports
check_unplugged
finish_checks
echo "all checks passed"
