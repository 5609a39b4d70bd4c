#!/bin/bash
# The command line around the loader, end to end against the simulator: --help (vexalw's too),
# --version, refused options and "--"; --port ahead of VEXAL_COM1 and --list-ports; the progress on a
# terminal (the program's standard output a pseudo-terminal) and as plain lines on standard error when
# piped; the outcome and the summary on standard error; the events of VEXAL_EVENTS.
#
#   bash command_line.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(realpath "${1:?usage: command_line.sh BIN_DIR SOURCE_DIR}")
source "$(dirname "$0")/lib/board.sh"
source "$(dirname "$0")/lib/loader.sh"
e2e_begin command-line
SIM_OPTIONS=(--log "$WORK/sim.log")

# vx ARGS...: vexal in $WORK with COM1 pointing nowhere; status in $STATUS, out.txt and err.txt kept.
vx() {
  (cd "$WORK" && VEXAL_COM1="$WORK/nowhere" timeout 120 "$BIN/vexal" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt")
  STATUS=$?
}
expect_status() { [ "$STATUS" = "$1" ] || fail "$2: status $STATUS, not $1 ($(cat "$WORK/err.txt"))"; }
telegrams() { awk '$2 == "in"' "$WORK/sim.log" 2>/dev/null | wc -l; }

make_firmware() {
  head -c 3000 /dev/urandom >"$WORK/fw.bin"
  srec_cat "$WORK/fw.bin" -binary -offset 0x010000 -o "$WORK/fw.s28" -motorola -address-length=3 \
           -Output_Block_Size 32 -disable=header -disable=data-count -execution-start-address=0x010000
}

help_version_and_refusals_never_open_the_port() {
  start_sim
  local before
  before=$(telegrams)
  vx --help b9600
  expect_status 0 "--help"
  grep -q '^Usage: vexal \[OPTION\]' "$WORK/out.txt" || fail "--help printed no usage"
  [ -s "$WORK/err.txt" ] && fail "--help wrote to standard error"
  grep -qF -- "--choose" "$WORK/out.txt" && fail "vexal's --help names vexalw's --choose"
  # The window's --help needs no display; it names the option only the window has.
  if [[ -x $BIN/vexalw ]]; then
    (cd "$WORK" && env -u DISPLAY VEXAL_COM1="$WORK/nowhere" timeout 120 "$BIN/vexalw" --help >"$WORK/out.txt" \
      2>"$WORK/err.txt")
    STATUS=$?
    expect_status 0 "vexalw --help"
    grep -q '^Usage: vexalw \[OPTION\]' "$WORK/out.txt" && grep -Eq '^ +--choose +ask for the port' "$WORK/out.txt" ||
      fail "vexalw --help does not name --choose: $(head -n 12 "$WORK/out.txt")"
  fi
  vx -V
  expect_status 0 "-V"
  [ "$(cat "$WORK/out.txt")" = "vexal 0.95 (VQ-3140 loader, ZARVEN v1.28)" ] || fail "-V printed $(cat "$WORK/out.txt")"
  local refused
  for refused in --helo -x --port; do
    (cd "$WORK" && VEXAL_COM1="$WORK/com1" "$BIN/vexal" b9600 "$refused" >"$WORK/out.txt" 2>"$WORK/err.txt")
    STATUS=$?
    expect_status 1 "$refused"
    [ "$(wc -l <"$WORK/err.txt")" = 1 ] && grep -qF -- "'$refused'" "$WORK/err.txt" &&
      grep -qF -- "--help" "$WORK/err.txt" || fail "$refused: standard error holds $(cat "$WORK/err.txt")"
    [ -s "$WORK/out.txt" ] && fail "$refused: a console log was printed"
  done
  [ "$(telegrams)" = "$before" ] || fail "the board received telegrams from help, version or a refusal"
  # The loader's own usage still answers '?' and '-?'.
  vx -?
  expect_status 0 "-?"
  grep -q "Use: vexal.exe" "$WORK/out.txt" || fail "-? did not print the loader's usage"
  stop_sim
}

after_double_dash_a_dash_goes_to_the_board() {
  start_sim
  (cd "$WORK" && "$BIN/vexal" -P "$WORK/com1" -- -x >"$WORK/out.txt" 2>"$WORK/err.txt")
  STATUS=$?
  grep -q '"-x\\n"' "$WORK/sim.log" || fail "the raw command -x did not reach the board: $(tail -n 2 "$WORK/sim.log")"
  grep -q 'Send scmd: -x' "$WORK/out.txt" || fail "the console does not show -x sent"
  stop_sim
}

port_on_the_command_line_goes_ahead_of_the_variable() {
  start_sim
  local form
  for form in "-P $WORK/com1" "--port $WORK/com1" "--port=$WORK/com1"; do
    # shellcheck disable=SC2086
    vx $form
    expect_status 0 "$form"
    grep -q '^VQ-3140 ZARVEN v1.28' "$WORK/out.txt" || fail "$form: no identity"
  done
  stop_sim
  vx --port "$WORK/no-such-tty"
  expect_status 2 "a port that isn't there"
  grep -qF "can't open COM1 ($WORK/no-such-tty): No such file or directory" "$WORK/err.txt" ||
    fail "the reason does not name the device: $(cat "$WORK/err.txt")"
  grep -qx "vexal: error: Wrong settings, can't initialize UART (exit code 2)" "$WORK/err.txt" ||
    fail "no error line: $(cat "$WORK/err.txt")"
}

list_ports_from_a_scratch_tree_and_the_machine() {
  local dev=$WORK/dev sys=$WORK/sys usb=$WORK/sys/devices/usb1/1-1
  mkdir -p "$dev/serial/by-id" "$usb/1-1:1.0/ttyUSB0" "$sys/class/tty/ttyUSB0"
  printf '0403\n' >"$usb/idVendor"; printf '6001\n' >"$usb/idProduct"; printf 'A1B2C3\n' >"$usb/serial"
  printf 'FTDI\n' >"$usb/manufacturer"; printf 'FT232R USB UART\n' >"$usb/product"
  ln -s "$usb/1-1:1.0/ttyUSB0" "$sys/class/tty/ttyUSB0/device"
  ln -s ../../ttyUSB0 "$dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"
  VEXAL_DEV_ROOT=$dev VEXAL_SYSFS_ROOT=$sys "$BIN/vexal" --list-ports >"$WORK/out.txt"
  STATUS=$?
  expect_status 0 "--list-ports"
  [ "$(cat "$WORK/out.txt")" = "$(printf '%s\t%s\t%s\t%s\t%s' "$dev/ttyUSB0" \
      usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 0403:6001 A1B2C3 'FTDI FT232R USB UART')" ] ||
    fail "--list-ports printed: $(cat -A "$WORK/out.txt")"
  "$BIN/vexal" --list-ports >"$WORK/out.txt" || fail "--list-ports on this machine failed"
  awk -F'\t' 'NF != 5 { bad = 1 } END { exit bad }' "$WORK/out.txt" || fail "a line without five fields"
  echo "ports on this machine: $(wc -l <"$WORK/out.txt")"
}

# The program's standard output a pseudo-terminal: what a person at a terminal sees.
on_a_terminal() {
  python3 - "$@" <<'PY'
import os, pty, subprocess, sys
master, slave = pty.openpty()
proc = subprocess.Popen(sys.argv[1:], stdout=slave, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
os.close(slave)
seen = b""
while True:
    try:
        piece = os.read(master, 4096)
    except OSError:
        break
    if not piece:
        break
    seen += piece
proc.wait()
sys.stdout.buffer.write(seen)
sys.stderr.buffer.write(proc.stderr.read())
sys.exit(proc.returncode)
PY
}

progress_on_a_terminal_and_piped() {
  make_firmware
  SIM_OPTIONS=(--log "$WORK/sim.log" --baud 115200)
  start_sim
  (cd "$WORK" && on_a_terminal "$BIN/vexal" -P "$WORK/com1" b115200 fw.s28 "@verify<fw.s28" \
    >"$WORK/tty.txt" 2>"$WORK/tty-err.txt") || fail "the run on a terminal failed"
  grep -qaE $'\r.*  \\[fw\\.s28 [0-9]+/3000 B, [0-9]+ B/s, [0-9:]+ s? ?left\\]' "$WORK/tty.txt" ||
    grep -qaE $'\r.*  \\[[0-9]+/3000 B, [0-9]+ B/s, [0-9]+ s left\\]' "$WORK/tty.txt" ||
    fail "no download progress on the status line: $(tr '\r' '\n' <"$WORK/tty.txt" | grep -a '\[' | head -n 3)"
  grep -qaE $'\r.*\\[.*/3000 B, [0-9]+ B/s' <(tr -d '\n' <"$WORK/tty.txt" | sed 's/Verified.*//;s/.*Executing:@verify//') ||
    fail "no verify progress on the status line"
  grep -qa 'Verified  3000 bytes\.\|Verified 3000 bytes\.' "$WORK/tty.txt" || fail "the verify line is not whole"
  grep -q 'vexal: loading' "$WORK/tty-err.txt" && fail "progress lines on standard error beside a terminal"
  # Piped: the log as ever, the progress on standard error as plain lines.
  (cd "$WORK" && "$BIN/vexal" -P "$WORK/com1" b115200 fw.s28 "@verify<fw.s28" >"$WORK/piped.txt" 2>"$WORK/piped-err.txt") ||
    fail "the piped run failed"
  (cd "$WORK" && "$BIN/vexal" -q -P "$WORK/com1" b115200 fw.s28 "@verify<fw.s28" >"$WORK/quiet.txt" 2>"$WORK/quiet-err.txt") ||
    fail "the quiet run failed"
  cmp -s "$WORK/piped.txt" "$WORK/quiet.txt" || fail "the log differs with progress on"
  grep -q $'\r\|\x1b' "$WORK/piped.txt" "$WORK/piped-err.txt" && fail "a carriage return or escape in the piped output"
  local tenths
  tenths=$(grep -c '^vexal: loading fw\.s28: [0-9]*0% ([0-9]* of 3000 bytes, [0-9]* B/s, ' "$WORK/piped-err.txt")
  [ "$tenths" = 10 ] || fail "$tenths download progress lines, not 10: $(cat "$WORK/piped-err.txt")"
  [ "$(grep -c '^vexal: verifying fw\.s28: ' "$WORK/piped-err.txt")" = 10 ] || fail "not 10 verify progress lines"
  grep -qx 'vexal: 6000 bytes in [0-9.]* s ([0-9.]* kB/s)' "$WORK/piped-err.txt" || fail "no summary line"
  [ "$(grep -vc '^vexal: [0-9]* bytes in ' "$WORK/quiet-err.txt")" = 0 ] || fail "-q left progress: $(cat "$WORK/quiet-err.txt")"
  stop_sim
  SIM_OPTIONS=(--log "$WORK/sim.log")
}

outcome_on_standard_error() {
  make_firmware
  start_sim
  (cd "$WORK" && "$BIN/vexal" -P "$WORK/com1" fw.s28 'W010005<00' "@verify<fw.s28" >"$WORK/out.txt" 2>"$WORK/err.txt")
  STATUS=$?
  expect_status 9 "a changed byte"
  local expected
  expected=$(printf 'vexal: error: Verify failed at 010005: expected %02X, found 00. (exit code 9)' \
             "$(od -An -tu1 -j5 -N1 "$WORK/fw.bin")")
  [ "$(tail -n 1 "$WORK/err.txt")" = "$expected" ] || fail "last stderr line: $(tail -n 1 "$WORK/err.txt")"
  grep -q '^vexal: [0-9]* bytes in [0-9.]* s ([0-9.]* kB/s)$' "$WORK/err.txt" || fail "no summary after a failed run"
  stop_sim
  start_sim --fault refuse:every=1
  (cd "$WORK" && "$BIN/vexal" -q -P "$WORK/com1" fw.s28 >"$WORK/out.txt" 2>"$WORK/err.txt")
  STATUS=$?
  expect_status 4 "a refused block"
  tr -d '\n' <"$WORK/out.txt" | grep -q 'Error:s|!refused *|Exit code     4$' || fail "the console's error line changed: $(tail -n 3 "$WORK/out.txt")"
  grep -qx 'vexal: error: block 010000 was not accepted in 1 attempt: the board answered "!refused" (exit code 4)' \
    "$WORK/err.txt" || fail "the block's error line: $(cat "$WORK/err.txt")"
  stop_sim
  start_sim --fault silent:after=1  # the first block is accepted, the second never answered
  (cd "$WORK" && "$BIN/vexal" -q -P "$WORK/com1" fw.s28 >"$WORK/out.txt" 2>"$WORK/err.txt")
  STATUS=$?
  expect_status 4 "a block never answered"
  grep -q 'vexal: error: block 010080 was not accepted in 8 attempts: no complete answer came back' "$WORK/err.txt" ||
    fail "the unanswered block's error line: $(cat "$WORK/err.txt")"
  stop_sim
}

UTC='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z'

events_on_a_descriptor() {
  make_firmware
  start_sim
  (cd "$WORK" && VEXAL_EVENTS=3 "$BIN/vexal" -P "$WORK/com1" I000000 fw.s28 3>"$WORK/events.jsonl" >/dev/null 2>&1) ||
    fail "the run with events failed"
  local pid
  pid=$(sed -n '1s/.*"pid":\([0-9]*\),.*$/\1/p' "$WORK/events.jsonl")
  [ -n "$pid" ] && head -n 1 "$WORK/events.jsonl" |
    grep -qxE "\\{\"event\":\"start\",\"version\":\"0.95\",\"port\":\"$WORK/com1\",\"pid\":$pid,\"time\":\"$UTC\"\\}" ||
    fail "first event: $(head -n 1 "$WORK/events.jsonl")"
  grep -qx '{"event":"phase","phase":"opening"}' "$WORK/events.jsonl" || fail "no opening phase"
  grep -qx '{"event":"identity","id":"VQ-3140 ZARVEN v1.28"}' "$WORK/events.jsonl" || fail "no identity"
  grep -qx '{"event":"phase","phase":"loading","file":"fw.s28"}' "$WORK/events.jsonl" || fail "no loading phase"
  grep -qx '{"event":"progress","phase":"loading","done":3000,"total":3000}' "$WORK/events.jsonl" || fail "no progress at 100 %"
  local end='\{"event":"end","code":0,"error":"","reason":"","bytes":3000,"written":3000,"read":0,'
  end+='"text_retries":0,"block_retries":0,"seconds":[0-9]+(\.[0-9]{1,2})?,"time":"'"$UTC"'"\}'
  tail -n 1 "$WORK/events.jsonl" | grep -qxE "$end" ||
    fail "last event: $(tail -n 1 "$WORK/events.jsonl")"
  [ "$(grep -c '"event":"end"' "$WORK/events.jsonl")" = 1 ] || fail "not exactly one end event"
  stop_sim
  # A refused command line is no run, but a driving program still learns how it ended.
  (cd "$WORK" && VEXAL_EVENTS="$WORK/refused.jsonl" "$BIN/vexal" --prot x >/dev/null 2>&1)
  end='\{"event":"end","code":1,"error":"Error: unknown option '"'--prot'"'","reason":"","bytes":0,"written":0,'
  end+='"read":0,"text_retries":0,"block_retries":0,"seconds":0.0,"time":"'"$UTC"'"\}'
  tail -n 1 "$WORK/refused.jsonl" | grep -qxE "$end" ||
    fail "a refused line's events: $(cat "$WORK/refused.jsonl")"
}

help_version_and_refusals_never_open_the_port
after_double_dash_a_dash_goes_to_the_board
port_on_the_command_line_goes_ahead_of_the_variable
list_ports_from_a_scratch_tree_and_the_machine
progress_on_a_terminal_and_piped
outcome_on_standard_error
events_on_a_descriptor
finish_checks
