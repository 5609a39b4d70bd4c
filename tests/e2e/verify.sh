#!/usr/bin/env bash
# "@verify" and the frame trace end to end: the vexal binary against vq3140-sim over a pseudo-terminal.
#
# A download followed by a verify passes; a board whose memory differs in one byte fails at that byte;
# a file with gaps is read back only where it has records (judged by the simulator's log of R
# telegrams); the trace of a run holds every frame the simulator saw, and a trace that can't be written
# leaves the run alone.
#
#   verify.sh BIN_DIR SOURCE_DIR
set -u

BIN=$(cd "$1" && pwd) || exit 1
source "$(dirname "$0")/lib/board.sh"
command -v srec_cat >/dev/null || { echo "srec_cat is missing (package srecord)"; exit 1; }
e2e_begin e2e-verify
SIM_OPTIONS=(--log "$WORK/sim.log")
source "$(dirname "$0")/lib/loader.sh"

expect_line() {  # TEXT: a line of vexal.log, trailing blanks aside
  sed 's/ *$//' "$WORK/vexal.log" | grep -qxF "$1" || { fail "no line '$1' in the log:"; cat "$WORK/vexal.log"; }
}

# The firmware: three parts with gaps between them, one ending in the middle of a 64-byte chunk.
#   0x012345  5000 B   0x020000  64 B   0x03FFF0  100 B (across 0x040000)
make_firmware() {
  head -c 5000 /dev/urandom >"$WORK/a.bin"
  head -c 64 /dev/urandom >"$WORK/b.bin"
  head -c 100 /dev/urandom >"$WORK/c.bin"
  srec_cat "$WORK/a.bin" -binary -offset 0x012345 "$WORK/b.bin" -binary -offset 0x020000 \
           "$WORK/c.bin" -binary -offset 0x03FFF0 \
           -o "$WORK/fw.s28" -motorola -address-length=3 -Output_Block_Size 32 \
           -disable=header -disable=data-count -execution-start-address=0x012345
}
RANGES="012345:5000 020000:64 03FFF0:100"
TOTAL=5164

# The R telegrams in the simulator's log, as ADDRESS:COUNT in hexadecimal, one a line.
reads_in_log() {
  grep -o '"R[0-9A-F]\{6\},[0-9A-F]\{2\}\\n"' "$WORK/sim.log" | sed 's/"R\(......\),\(..\)\\n"/\1:\2/'
}

# What the reads must be: each range in chunks of 64 from its start, the last one shorter.
expected_reads() {
  local range start length a end n
  for range in $RANGES; do
    start=$((16#${range%%:*}))
    length=${range##*:}
    end=$((start + length))
    for ((a = start; a < end; a += 64)); do
      n=$((end - a < 64 ? end - a : 64))
      printf '%06X:%02X\n' "$a" "$n"
    done
  done
}

download_then_verify_reads_only_the_covered_ranges() {
  start_sim
  run_loader 0 fw.s28 "@verify<fw.s28" && expect_line "Verified $TOTAL bytes."
  stop_sim
  if ! diff <(expected_reads) <(reads_in_log) >"$WORK/reads.diff"; then
    fail "the read-back asked for other ranges than the file covers:"
    head -20 "$WORK/reads.diff"
  fi
}

# The board's memory holds the firmware with one byte changed (the 4001st of the first part).
changed_byte_is_reported_at_its_address() {
  cp "$WORK/a.bin" "$WORK/patched.bin"
  local offset=4000 expected found
  expected=$(od -An -tx1 -j $offset -N1 "$WORK/a.bin" | tr -d ' ' | tr a-f A-F)
  found=$(printf '%02X' $(((16#$expected) ^ 0x5A)))
  printf "\\x$found" | dd of="$WORK/patched.bin" bs=1 seek=$offset conv=notrunc status=none
  start_sim --load "$WORK/patched.bin@012345" --load "$WORK/b.bin@020000" --load "$WORK/c.bin@03FFF0"
  run_loader 9 "@verify<fw.s28" &&
    expect_line "Error: Verify failed at $(printf '%06X' $((0x012345 + offset))): expected $expected, found $found."
  stop_sim
  # It stops at the difference: nothing past the chunk that holds it is read.
  local last
  last=$(reads_in_log | tail -n 1)
  [ "$last" = "$(printf '%06X:40' $((0x012345 + offset / 64 * 64)))" ] || fail "the last read was $last"
}

trace_holds_every_frame_the_board_saw() {
  start_sim
  run_loader 0 fw.s28 "@verify<fw.s28"
  cp "$WORK/vexal.log" "$WORK/untraced.log"
  rm -f "$WORK/sim.log"
  stop_sim
  start_sim
  VEXAL_TRACE="$WORK/trace.txt" run_vexal fw.s28 "@verify<fw.s28"
  [ "$STATUS" = 0 ] || fail "the traced run failed"
  stop_sim
  # Standard error holds the progress lines and the summary, nothing about the trace.
  grep -v '^vexal: \(loading\|verifying\) \|^vexal: [0-9]* bytes in ' "$WORK/vexal.err" | grep -q . &&
    fail "the traced run wrote to standard error: $(cat "$WORK/vexal.err")"
  cmp -s "$WORK/untraced.log" "$WORK/vexal.log" || fail "the console differs with the trace on"
  # The frames the board received, byte for byte, are the frames the trace says were sent.
  diff <(awk '$2 == "in" { sub(/^ *[0-9.]+ in +/, ""); sub(/  \|.*/, ""); print }' "$WORK/sim.log") \
       <(awk '$2 == "tx" { sub(/^ *[0-9.]+ tx +/, ""); sub(/  \|.*/, ""); print }' "$WORK/trace.txt") \
       >"$WORK/trace.diff" || { fail "trace and simulator log disagree:"; head "$WORK/trace.diff"; }
  [ "$(grep -c ' tx ' "$WORK/trace.txt")" -gt 100 ] || fail "the trace holds too few frames"
  grep -q ' rx   .*  | "\*"$' "$WORK/trace.txt" || fail "no block answer in the trace"
  [ "$(grep -c ' tx ' "$WORK/trace.txt")" = "$(grep -c ' rx ' "$WORK/trace.txt")" ] ||
    fail "a tx line without its rx line"
}

unwritable_trace_is_said_once() {
  start_sim
  VEXAL_TRACE="$WORK/no/such/dir/trace.txt" run_vexal fw.s28
  [ "$STATUS" = 0 ] || fail "a trace that can't be opened failed the run"
  stop_sim
  [ "$(grep -c "trace" "$WORK/vexal.err")" = 1 ] && grep -q "^vexal: can't open the trace file" "$WORK/vexal.err" ||
    { fail "standard error holds:"; cat "$WORK/vexal.err"; }
}

make_firmware
download_then_verify_reads_only_the_covered_ranges
changed_byte_is_reported_at_its_address
trace_holds_every_frame_the_board_saw
unwritable_trace_is_said_once

finish_checks
