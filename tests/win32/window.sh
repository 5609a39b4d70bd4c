#!/usr/bin/env bash
# vexal.exe end to end under wine and Xvfb, against the board simulator on COM1:
#   - a firmware download: the label and the bar show while the command file runs, the console shows
#     the run, the end box comes up, the process ends with status 0 after it is dismissed and the
#     board's memory equals the firmware;
#   - the window closed in the middle of a download: the process ends at once, with no end box;
#   - a command line beyond the split's limits: two console lines (the "Error" line and the exit code)
#     and the end box;
#   - the download and the refusal write their events (VEXAL_EVENTS) as the other front-ends do;
#   - @load of an ELF file linked here with as and ld, to run elsewhere than it loads: status 0, and the
#     board's memory holds the code at its physical address.
#
#   bash tests/win32/window.sh MINGW_BIN_DIR SIMULATOR
# Needs wine, Xvfb, xdotool, ImageMagick, srec_cat, as and ld. Exits non-zero on the first failure.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
BIN=$(cd "${1:?usage: window.sh MINGW_BIN_DIR SIMULATOR}" && pwd)
SIM=${2:?usage: window.sh MINGW_BIN_DIR SIMULATOR}
source "$here/../../scripts/win32-env.sh"
source "$here/lib.sh"

# Client coordinates of the window's parts (the client is its own X window under wine).
CONSOLE_HEIGHT=370
CONSOLE=632x$CONSOLE_HEIGHT+0+0
BAR=396x26+102+402           # inside the control's frame
BAR_START=40x20+104+405      # its left end, filled from the first line on
LABEL=75x20+20+405
STRIP=632x80+0+373

require_tools wine_ok Xvfb xdotool import convert srec_cat as ld
start_xvfb
win32_prefix && win32_lock && win32_restart_on_display || fail "wine does not start"

make_firmware() {  # NAME BYTES
  head -c "$2" /dev/urandom >"$WORK/$1.bin"
  srec_cat "$WORK/$1.bin" -binary -offset 0x10000 -o "$WORK/$1.s28" -motorola -address-length=3 \
    -disable=header -disable=data-count -execution-start-address=0x10000
}

# expect_events FILE CODE ERROR: the window's events begin with "start" and end with one "end" that
# carries CODE and ERROR. A file written on Windows ends its lines with CR LF: read without the CR.
expect_events() {
  local file=$WORK/$1.lf
  tr -d '\r' <"$WORK/$1" >"$file"
  head -n 1 "$file" | grep -qE '^\{"event":"start","version":"[0-9.]+","port":"COM1","pid":[0-9]+,"time":"[0-9T:Z-]+"\}$' ||
    fail "first event of the window: $(head -n 1 "$file" 2>&1)"
  tail -n 1 "$file" | grep -qF "{\"event\":\"end\",\"code\":$2,\"error\":\"$3\"," ||
    fail "last event of the window: $(tail -n 1 "$file" 2>&1)"
  [ "$(grep -c '"event":"end"' "$file")" = 1 ] || fail "not exactly one end event from the window"
}

check_download() {
  make_firmware fw 40000
  start_sim --dump "$WORK/dump.bin"
  VEXAL_EVENTS=download.jsonl start_window fw.s28
  local win
  win=$(wait_for_window '^VexalW$' 30) || fail "no window"
  poll 300 bar_has_moved "$win" || fail "the progress bar never showed a position"
  settled_shot "$win" "$WORK/loading.png" 5
  expect_dark "$WORK/loading.png" "$LABEL" "the label \"Loading...\""
  expect_dark "$WORK/loading.png" "$CONSOLE" "the console text"
  expect_bands "$WORK/loading.png" 5 "console lines while loading"

  local box
  box=$(wait_for_window '^Vexal$' 120) || fail "no end box"
  move_aside "$box"
  settled_shot "$win" "$WORK/end.png" 7
  expect_plain "$WORK/end.png" "$STRIP" "the strip after the bar went"
  expect_bands "$WORK/end.png" 7 "console lines at the end (the last one: the exit code)"
  run_console_while_held
  dismiss "$box"
  wait_window_end 20 || fail "the process did not end after the box was dismissed"
  [ "$WINDOW_STATUS" -eq 0 ] || fail "process status $WINDOW_STATUS, expected 0"
  stop_sim
  srec_cat "$WORK/fw.s28" -motorola -fill 0xFF 0 0x1000000 -o "$WORK/image.bin" -binary 2>/dev/null
  cmp -s "$WORK/image.bin" "$WORK/dump.bin" || fail "the board's memory differs from the firmware"
  expect_events download.jsonl 0 ""
  grep -qx '{"event":"phase","phase":"loading","file":"fw.s28"}' "$WORK/download.jsonl.lf" || fail "no loading phase event"
  pass "download: bar, label, console, end box, status 0, memory equals the firmware, events"
}

# While the end box is up the port is still open, without sharing: on Windows a second loader can't
# have it. Wine 8 does not keep other processes out of a COM port opened without sharing, so under
# wine this is only reported.
run_console_while_held() {
  local out status
  out=$(cd "$WORK" && "$WINE" "$BIN/vexalc.exe" 2>&1 9>&-)
  status=$?
  if [ "$status" -eq 2 ] && grep -q "Wrong settings, can't initialize UART" <<<"$out"; then
    pass "COM1 held by the window: a second loader is refused with exit code 2"
  else
    echo "note: a second loader opened COM1 while the window held it (status $status): wine shares COM ports"
  fi
}

check_close_mid_transfer() {
  make_firmware big 120000
  start_sim
  start_window big.s28
  local win
  win=$(wait_for_window '^VexalW$' 30) || fail "no window"
  poll 300 bar_has_moved "$win" || fail "the progress bar never moved"
  close_window "$win"
  wait_window_end 10 || fail "closing the window did not end the process"
  [ "$WINDOW_STATUS" -eq 0 ] || fail "status $WINDOW_STATUS after closing, expected 0"
  ! xdotool search --name '^Vexal$' >/dev/null 2>&1 || fail "an end box came up after closing"
  stop_sim
  pass "window closed mid-transfer: the process ends at once, status 0, no end box"
}

check_refused_command_line() {
  start_sim
  local long
  long=$(printf 'x%.0s' $(seq 300))
  VEXAL_EVENTS=refused.jsonl start_window "$long"
  local win box
  win=$(wait_for_window '^VexalW$' 30) || fail "no window"
  box=$(wait_for_window '^Vexal$' 30) || fail "no end box for a refused command line"
  move_aside "$box"
  settled_shot "$win" "$WORK/refused.png" 2
  expect_bands "$WORK/refused.png" 2 "console lines of a refused command line (Error, exit code)"
  dismiss "$box"
  wait_window_end 20 || fail "the process did not end"
  stop_sim
  expect_events refused.jsonl 1 "Error: Command line longer than 255 characters."
  pass "command line over 255 characters: refused in the console, end box, its events, status $WINDOW_STATUS"
}

# The ELF reader of the Win32 build: a 64-bit file linked to run at 900000 and loaded at 030000.
check_elf_load() {
  head -c 20000 /dev/urandom >"$WORK/code.bin"
  printf '  .section .text, "ax"\n  .incbin "code.bin"\n' >"$WORK/fw.s"
  printf 'ENTRY(_start)\nSECTIONS { .text 0x900000 : AT(0x030000) { _start = .; *(.text) } }\n' >"$WORK/fw.ld"
  (cd "$WORK" && as --64 -o fw.o fw.s && ld -m elf_x86_64 -T fw.ld -o fw.elf fw.o) || fail "linking fw.elf"
  start_sim --dump "$WORK/dump.bin"
  start_window "@load<fw.elf"
  local box  # the window itself is checked above: here only the end of the run is waited for
  box=$(wait_for_window '^Vexal$' 120) || fail "no end box after @load<fw.elf: $(cat "$WORK/window.out")"
  dismiss "$box"
  wait_window_end 20 || fail "the process did not end after @load<fw.elf"
  [ "$WINDOW_STATUS" -eq 0 ] || fail "@load<fw.elf: status $WINDOW_STATUS, expected 0: $(cat "$WORK/window.out")"
  stop_sim
  srec_cat "$WORK/code.bin" -binary -offset 0x030000 -fill 0xFF 0 0x1000000 -o "$WORK/image.bin" -binary
  cmp -s "$WORK/image.bin" "$WORK/dump.bin" || fail "@load<fw.elf: the board's memory differs from the code at 030000"
  pass "@load<fw.elf (as and ld, loaded by its physical address): status 0, memory equals the code"
}

check_download
check_elf_load
check_close_mid_transfer
check_refused_command_line
finish_checks
