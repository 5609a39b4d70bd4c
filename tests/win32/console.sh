#!/usr/bin/env bash
# The Win32 port back-end under wine, through the console build vexalc.exe against the simulator:
# each case is a row of the table below (name, simulator options, loader arguments, expected status,
# a line the log must hold, bounds on the run's time in seconds). Then a download with faults on the
# line, compared byte for byte with the firmware, and the same exchange's frames from the Linux build;
# last, the ELF files the Linux build refuses, refused alike (a segment wrapping past 2^64, a table cut).
#
#   bash tests/win32/console.sh MINGW_BIN_DIR SIMULATOR [LINUX_VEXAL]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
BIN=$(cd "${1:?usage: console.sh MINGW_BIN_DIR SIMULATOR [LINUX_VEXAL]}" && pwd)
SIM=${2:?usage: console.sh MINGW_BIN_DIR SIMULATOR [LINUX_VEXAL]}
LINUX_VEXAL=${3:-}
[ -n "$LINUX_VEXAL" ] && LINUX_VEXAL=$(realpath "$LINUX_VEXAL")
source "$here/../../scripts/win32-env.sh"
source "$here/lib.sh"

require_tools srec_cat as ld python3
win32_prefix && win32_lock && win32_start || fail "wine does not start"

# run_console ARGS...: vexalc.exe in $WORK; status in STATUS, log in $WORK/out, seconds in ELAPSED.
run_console() {
  local t0
  t0=$(date +%s.%N)
  (cd "$WORK" && timeout 120 "$WINE" "$BIN/vexalc.exe" "$@" </dev/null >"$WORK/out" 2>"$WORK/err" 9>&-)
  STATUS=$?
  ELAPSED=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
}

# The wine start costs up to a few seconds on top of every run: the bounds leave room for it.
#      name                          | simulator      | arguments | status | the log holds                       | min s | max s
CASES=(
  "identity is shown               |                  |           | 0 | VQ-3140 ZARVEN v1.28                   | 0 | 20"
  "raw command is answered         |                  | I000000   | 0 | Loading completed with no errors.      | 0 | 20"
  "no device behind COM1           | none             |           | 2 | can't initiali                         | 0 | 20"
  "COM2 stands nowhere             |                  | p2F8      | 2 | can't initiali                         | 0 | 20"
  "silent board: nine full windows | silent:after=0   |           | 5 | .........Error: No response.           | 2.7 | 30"
  "late answers are retried        | late:every=2     | I000000 I000000 I000000 | 0 | Loading completed with no errors. | 0 | 30"
)

field() { awk -F'|' -v k="$2" '{ gsub(/^ +| +$/, "", $k); print $k }' <<<"$1"; }

run_case() {
  local row=$1 name sim args status holds min max
  name=$(field "$row" 1); sim=$(field "$row" 2); args=$(field "$row" 3)
  status=$(field "$row" 4); holds=$(field "$row" 5); min=$(field "$row" 6); max=$(field "$row" 7)
  if [ "$sim" = none ]; then
    win32_point_com1 "$WORK/no-such-port"
  elif [ -n "$sim" ]; then
    start_sim --fault "$sim"
  else
    start_sim
  fi
  # shellcheck disable=SC2086 # the arguments are words
  run_console $args
  [ -n "$SIM_PID" ] && stop_sim
  [ "$STATUS" -eq "$status" ] || fail "$name: status $STATUS, expected $status; log: $(tr '\n' '|' <"$WORK/out")"
  grep -qF -- "$holds" "$WORK/out" || fail "$name: the log lacks \"$holds\": $(tr '\n' '|' <"$WORK/out")"
  below "$ELAPSED" "$max" || fail "$name: took $ELAPSED s, more than $max"
  below "$min" "$ELAPSED" || [ "$min" = 0 ] || fail "$name: took $ELAPSED s, less than $min"
  pass "$name ($ELAPSED s)"
}

check_download_with_faults() {
  head -c 30000 /dev/urandom >"$WORK/fw.bin"
  srec_cat "$WORK/fw.bin" -binary -offset 0x20000 -o "$WORK/fw.s28" -motorola -address-length=3 \
    -disable=header -disable=data-count -execution-start-address=0x20000
  start_sim --dump "$WORK/dump.bin" --fault drop:every=17 --fault split:every=5
  run_console fw.s28
  stop_sim
  [ "$STATUS" -eq 0 ] || fail "download with faults: status $STATUS; $(tail -3 "$WORK/out" | tr '\n' '|')"
  srec_cat "$WORK/fw.s28" -motorola -fill 0xFF 0 0x1000000 -o "$WORK/image.bin" -binary 2>/dev/null
  cmp -s "$WORK/image.bin" "$WORK/dump.bin" || fail "download with faults: the board's memory differs"
  pass "download with dropped and split answers: memory equals the firmware ($ELAPSED s)"
}

# frames_of LOG: the request frames a simulator log records, without their time stamps.
frames_of() { awk '$2 == "in" { sub(/^ *[^ ]+ +in +/, ""); sub(/ +\|.*/, ""); print }' "$1"; }

check_same_frames_as_linux() {
  [ -n "$LINUX_VEXAL" ] || { echo "note: no Linux build given, frames not compared"; return; }
  printf 'I000000\n@hexget010000,000021>d.txt\n@binget000100,000090>b.bin\n' >"$WORK/job.txt"
  start_sim --log "$WORK/win.log"
  run_console job.txt
  stop_sim
  start_sim --log "$WORK/lin.log"
  (cd "$WORK" && VEXAL_COM1="$WORK/com1" timeout 60 "$LINUX_VEXAL" job.txt >"$WORK/lin.out" 2>&1 9>&-)
  stop_sim
  frames_of "$WORK/win.log" >"$WORK/win.frames"
  frames_of "$WORK/lin.log" >"$WORK/lin.frames"
  [ -s "$WORK/win.frames" ] || fail "no frames recorded from the Win32 build"
  cmp -s "$WORK/win.frames" "$WORK/lin.frames" || fail "the Win32 and Linux builds send different frames: $(diff "$WORK/lin.frames" "$WORK/win.frames" | head -4)"
  pass "a command file's frames are the same from the Win32 and the Linux build ($(wc -l <"$WORK/win.frames") frames)"
}

# --port names the device COM1 opens: COM1 points nowhere, the board stands behind COM2, and
# "--port COM2" reaches it as COM1; "\\.\COM2" is the same device. --list-ports reads the registry.
check_port_option() {
  start_sim
  win32_point_com1 "$WORK/no-such-port" "$WORK/com1"
  local form
  for form in "--port COM2" "--port=\\\\.\\COM2" "-P COM2"; do
    # shellcheck disable=SC2086 # the option and its value are words
    run_console $form
    [ "$STATUS" -eq 0 ] && grep -q '^VQ-3140 ZARVEN v1.28' "$WORK/out" ||
      fail "$form: status $STATUS; $(tr '\n' '|' <"$WORK/out") $(cat "$WORK/err")"
  done
  stop_sim
  run_console --port COM9
  [ "$STATUS" -eq 2 ] && grep -q "COM1 (COM9)" "$WORK/err" || fail "--port COM9: status $STATUS, $(cat "$WORK/err")"
  run_console --list-ports
  [ "$STATUS" -eq 0 ] && awk -F'\t' 'NF != 5 { bad = 1 } END { exit bad }' "$WORK/out" ||
    fail "--list-ports: status $STATUS; $(cat "$WORK/out")"
  pass "--port COM2 reaches the board behind COM2 as COM1; --list-ports lists $(wc -l <"$WORK/out") port(s)"
}

# out_has TEXT: the console's output holds TEXT. The console breaks its lines after column 80, so the
# text is looked for without line ends (grep -c reads to the end: behind grep -q under pipefail, tr
# could die of SIGPIPE).
out_has() { [ "$(tr -d '\r\n' <"$WORK/out" | grep -cF "$1")" -gt 0 ]; }

# A 64-bit segment whose address plus size wraps past 2^64 (exit code 9), and a file cut inside its
# program-header table (cut short, exit code 3): refused before the board gets a telegram.
check_elf_refusals() {
  printf '  .section .text, "ax"\n  .fill 5000, 1, 0x5A\n' >"$WORK/fw.s"
  printf 'ENTRY(_start)\nSECTIONS { .text 0x8000 : { _start = .; *(.text) } }\n' >"$WORK/fw.ld"
  (cd "$WORK" && as --64 -o fw.o fw.s && ld -m elf_x86_64 -T fw.ld -o fw.elf fw.o) || fail "linking fw.elf"
  python3 "$here/../e2e/lib/elf_set_paddr.py" "$WORK/fw.elf" "$WORK/wrapped.elf" 0xFFFFFFFFFFFFFFF0
  head -c 100 "$WORK/fw.elf" >"$WORK/table.elf"
  start_sim
  run_console "@load<wrapped.elf"
  [ "$STATUS" -eq 9 ] && out_has "puts data at FFFFFFFFFFFFFFF0, outside memory" ||
    fail "@load<wrapped.elf: status $STATUS; $(grep -A1 Error "$WORK/out" | tr '\n' ' ')"
  run_console "@load<table.elf"
  [ "$STATUS" -eq 3 ] && out_has "the file is cut short" ||
    fail "@load<table.elf: status $STATUS; $(grep -A1 Error "$WORK/out" | tr '\n' ' ')"
  stop_sim
  pass "ELF files refused as on Linux: a segment wrapping past 2^64 (9), a table cut short (3)"
}

for row in "${CASES[@]}"; do run_case "$row"; done
check_port_option
check_download_with_faults
check_same_frames_as_linux
check_elf_refusals
finish_checks
