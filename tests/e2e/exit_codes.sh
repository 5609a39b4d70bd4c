#!/bin/bash
# Every exit code the README and the manual page name, each brought about through the simulator and
# checked as a caller sees it: the process status, the line that says why, and (for codes the loader
# gives) the log's closing "Exit code N" line. The codes named in the README's table and in the
# manual's EXIT STATUS section are read from the documents themselves: a code named there without a
# case here fails the script, so the documents can't name a code nobody checks.
#
#   bash exit_codes.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(realpath "${1:?usage: exit_codes.sh BIN_DIR SOURCE_DIR}")
SRC=$(realpath "${2:?usage: exit_codes.sh BIN_DIR SOURCE_DIR}")
source "$(dirname "$0")/lib/board.sh"
source "$(dirname "$0")/lib/loader.sh"
e2e_begin exit-codes
TESTED=()

# The log as one line, blanks run together: the console breaks lines at 80 columns and fills its text
# fields with blanks.
flat() { tr -d '\n' | tr -s ' '; }

# case_of CODE MESSAGE SIM_OPTIONS ARGS...: a fresh board with SIM_OPTIONS (one string, split on
# blanks), then vexal with ARGS must end with CODE and print MESSAGE.
case_of() {
  local code=$1 message=$2 options=$3
  shift 3
  # shellcheck disable=SC2086  # the options are words on purpose
  start_sim $options
  if run_loader "$code" "$@" && ! flat <"$WORK/vexal.log" | grep -qF -- "$(flat <<<"$message")"; then
    fail "vexal $* (exit code $code) did not say '$message'"
  fi
  stop_sim
  TESTED+=("$code")
}

# interrupted SIGNAL STATUS: a run stopped by SIGNAL ends by it (STATUS in a shell), its log ending
# with "Error: Interrupted.". The signal comes once the silent board has its first request: inside the
# first of the nine read windows.
interrupted() {
  local sig=$1 status=$2
  start_sim --fault silent:after=0 --log "$WORK/sim.log"
  (cd "$WORK" && exec env VEXAL_COM1="$WORK/com1" "$BIN/vexal" I000000 >"$WORK/vexal.log" 2>"$WORK/vexal.err") &
  local pid=$!
  wait_for "$WORK/sim.log" '^ *[0-9.]+ in '
  kill "-$sig" "$pid"
  wait "$pid"
  local got=$?
  stop_sim
  [[ $got -eq $status ]] || fail "vexal stopped by SIG$sig: status $got, not $status"
  local last
  last=$(grep -v '^ *$' "$WORK/vexal.log" | tail -n 1 | sed 's/^ *//; s/ *$//')
  [[ $last == "Error: Interrupted." ]] || fail "vexal stopped by SIG$sig ended its log with '$last'"
  TESTED+=("$status")
}

printf 'X1\n' >"$WORK/negative.txt"
printf '?abc\n' >"$WORK/unclosed.txt"
printf 'S2090100000102030405E6\nS804000000FB\n' >"$WORK/fw.s28"
printf 'S2090100000102030405E6\nS804000000FB\n' >"$WORK/check.s28"
printf 'S0030000FC\nS804000000FB\n' >"$WORK/notes.s28"
printf 'X%0300d\n' 0 >"$WORK/long.txt"

case_of 0 "Target ID:" "" 
case_of 0 "Loading completed with no errors." "" fw.s28
case_of 1 "Error: Argument 1 is longer than 127 characters." "" "$(printf 'x%.0s' $(seq 128))"
case_of 2 "Wrong settings, can't initialize UART" "" b14400
case_of 3 "Error: Can't open file missing.txt" "" missing.txt
case_of 3 "Error: Line 1 of long.txt is longer than 244 characters." "" long.txt
case_of 4 "Target didn't respond." "--answer I000000="
case_of 4 "Error:s|!refused" "--fault refuse:every=1" fw.s28
case_of 5 "Error: No response." "--fault silent:after=0"
grep -q "no answer frame" "$WORK/vexal.err" &&
  fail "a silent board: standard error speaks of bytes: $(cat "$WORK/vexal.err")"
case_of 5 "Error: No response." "--fault garbage:every=1"
grep -Eq "^vexal: error: No response: [0-9]+ bytes came in the read windows, but no answer frame" "$WORK/vexal.err" ||
  fail "a line full of text: standard error says $(cat "$WORK/vexal.err")"
case_of 5 "Error: No response." "--fault silent:after=0 --fault echo:every=1" X1
case_of 6 "Error: Negative response." "--answer X1=!no" negative.txt
case_of 7 "Error: Negative response." "--answer X1=!no" X1
case_of 8 "Error: Bad syntax:unclosed.txt line: 1 :?abc" "" unclosed.txt
case_of 9 "Error: Unknown command :@BINGET000000,000010>x.bin" "" "@BINGET000000,000010>x.bin"
case_of 9 "Error: Range outside memory 000000-FFFFFF: FFFFC0,000080" "" "@bingetFFFFC0,000080>x.bin"
case_of 9 "Error: Verify failed at 010000: expected 01, found FF." "" "@verify<check.s28"
case_of 9 "Error: No data record to verify in file notes.s28" "" "@verify<notes.s28"
interrupted INT 130
interrupted TERM 143
interrupted HUP 129

# The codes the documents name, each of which must be among those tested above.
documented_codes() {
  # The README's exit-code table only: other tables start rows with numbers too (boards, figures).
  sed -n '/^| exit code | meaning |/,/^$/p' "$SRC/README.md" | grep -oE '^\| [0-9]+(, [0-9]+)* \|' | grep -oE '[0-9]+'
  sed -n '/^\.SH "EXIT STATUS"/,/^\.SH /p' "$SRC/docs/man/vexal.1" |
    grep -E '^\.BR? [0-9]' | grep -oE '[0-9]+'
}
for code in $(documented_codes | sort -un); do
  [[ " ${TESTED[*]} " == *" $code "* ]] || fail "exit code $code is documented but has no case here"
done
[[ $(documented_codes | wc -l) -ge 12 ]] || fail "the documents' exit codes were not found"

PASSED="exit codes $(printf '%s\n' "${TESTED[@]}" | sort -un | tr '\n' ' ' | sed 's/ $//')"
finish_checks
