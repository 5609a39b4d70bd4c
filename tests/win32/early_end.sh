#!/usr/bin/env bash
# The early end of the read window in the Win32 port back-end, under wine: a download through
# vexalc.exe against the simulator on a line paced at 115200 baud, once with the early end (the default)
# and once with the full window (VEXAL_WINDOW=full). Both must leave the firmware in the board's memory
# and send the very same frames as each other and as the Linux build; the early end must be clearly
# faster. The same again with answers that come split (a pause under 15 ms), after noise, or late: both
# windows must send the same requests, in the same order (not compared with Linux there: when a late
# answer meets a retry depends on each platform's own timing). How many times a request is repeated is
# left out of that comparison: whether a split or late answer costs a retry depends on when the pieces
# arrive, which a loaded machine moves by more than the faults' margins.
#
# Prints each run's throughput and its ratio to the line's limit: the time the line needs to carry
# every request and answer frame one after the other (10 bits a byte), from the simulator's frame log.
# The time is measured from the first request to the last answer in that log, so wine's start-up does
# not count. The speed-up is a figure, not a check (about 2 is usual): a loaded machine slows wine's
# timing, and a CI run once failed at 1.30 while a build ran beside it. The early end's correctness is
# checked by the frames and the memory.
#
#   bash tests/win32/early_end.sh MINGW_BIN_DIR SIMULATOR [LINUX_VEXAL]
#   VEXAL_EARLY_KIB: the firmware's size in KiB (default 16)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: early_end.sh MINGW_BIN_DIR SIMULATOR [LINUX_VEXAL]"
BIN=$(cd "${1:?$usage}" && pwd)
SIM=$(realpath "${2:?$usage}")
LINUX_VEXAL=${3:-}
[ -n "$LINUX_VEXAL" ] && LINUX_VEXAL=$(realpath "$LINUX_VEXAL")
source "$here/../../scripts/win32-env.sh"
source "$here/lib.sh"

BAUD=115200
BITS_PER_BYTE=10
KIB=${VEXAL_EARLY_KIB:-16}
EXPECTED_SPEED_UP=1.3
FAULTS=(--fault split:every=5,pause=10 --fault noise:every=17 --fault late:every=23)

require_tools srec_cat
win32_prefix && win32_lock && win32_start || fail "wine does not start"

head -c $((KIB * 1024)) /dev/urandom >"$WORK/fw.bin"
srec_cat "$WORK/fw.bin" -binary -offset 0x010000 -o "$WORK/fw.s28" -motorola -address-length=3 \
  -Output_Block_Size 32 -disable=header -disable=data-count -execution-start-address=0x010000
srec_cat "$WORK/fw.s28" -motorola -fill 0xFF 0 0x1000000 -o "$WORK/image.bin" -binary 2>/dev/null

# frames_of LOG: the request frames a simulator log records, without their time stamps.
frames_of() { awk '$2 == "in" { sub(/^ *[^ ]+ +in +/, ""); sub(/ +\|.*/, ""); print }' "$1"; }

# download NAME WHO [simulator options...]: WHO is early or full (vexalc.exe under wine) or linux.
# Leaves NAME.log, NAME.frames and the seconds from the first request to the last answer in SPAN.
download() {
  local name=$1 who=$2 t0 status
  shift 2
  start_sim --baud "$BAUD" --log "$WORK/$name.log" --dump "$WORK/$name.dump" "$@"
  t0=$(date +%s.%N)
  case $who in
    linux) (cd "$WORK" && env -u VEXAL_WINDOW VEXAL_COM1="$WORK/com1" timeout 120 "$LINUX_VEXAL" b"$BAUD" fw.s28 \
              </dev/null >"$WORK/$name.out" 2>&1 9>&-) ;;
    full) (cd "$WORK" && VEXAL_WINDOW=full timeout 120 "$WINE" "$BIN/vexalc.exe" b"$BAUD" fw.s28 \
             </dev/null >"$WORK/$name.out" 2>&1 9>&-) ;;
    *) (cd "$WORK" && env -u VEXAL_WINDOW timeout 120 "$WINE" "$BIN/vexalc.exe" b"$BAUD" fw.s28 \
          </dev/null >"$WORK/$name.out" 2>&1 9>&-) ;;
  esac
  status=$?
  WALL=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  stop_sim
  [ "$status" -eq 0 ] || fail "$name: status $status; $(tail -3 "$WORK/$name.out" | tr '\n' '|')"
  cmp -s "$WORK/image.bin" "$WORK/$name.dump" || fail "$name: the board's memory differs from the firmware"
  rm -f "$WORK/$name.dump"
  frames_of "$WORK/$name.log" >"$WORK/$name.frames"
  [ -s "$WORK/$name.frames" ] || fail "$name: no frames recorded"
  SPAN=$(awk '$2 == "in" || $2 == "out" { if (!seen++) t0 = $1; t1 = $1 } END { printf "%.3f", (t1 - t0) / 1000 }' \
    "$WORK/$name.log")
  figures "$name" "$WORK/$name.log"
}

# figures NAME LOG: one row of throughput against the line's limit.
figures() {
  awk -v name="$1" -v bytes=$((KIB * 1024)) -v span="$SPAN" -v wall="$WALL" -v baud="$BAUD" -v bits="$BITS_PER_BYTE" '
    $2 == "in" || $2 == "out" || $2 == "noise" {
      for (i = 3; i <= NF && $i != "|"; i++) n++
      if ($2 == "in") rq++
    }
    END {
      line = n * bits / baud
      printf "     %-12s %5d requests %7.2f s (%6.2f s with start-up) %7.0f B/s, line limit %7.0f B/s, %5.1f %% of it\n",
             name, rq, span, wall, bytes / span, bytes / line, 100 * line / span
    }' "$2"
}

same_frames() {  # A B WHAT
  cmp -s "$WORK/$1.frames" "$WORK/$2.frames" ||
    fail "$3: the frames differ: $(diff "$WORK/$1.frames" "$WORK/$2.frames" | head -4 | cut -c1-120)"
}

same_requests() {  # A B WHAT: the frames of A and B, each run of one repeated request counted once
  uniq "$WORK/$1.frames" >"$WORK/$1.requests"
  uniq "$WORK/$2.frames" >"$WORK/$2.requests"
  cmp -s "$WORK/$1.requests" "$WORK/$2.requests" ||
    fail "$3: the requests differ: $(diff "$WORK/$1.requests" "$WORK/$2.requests" | head -4 | cut -c1-120)"
}

echo "     download of $((KIB * 1024)) bytes in 32-byte records at $BAUD baud through vq3140-sim"
download early early
early_span=$SPAN
download full full
full_span=$SPAN
pass "early end and full window: the board's memory equals the firmware in both"
same_frames early full "early end against the full window"
pass "early end and full window send the same $(wc -l <"$WORK/early.frames") frames"
if [ -n "$LINUX_VEXAL" ]; then
  download linux linux
  same_frames linux early "Win32 against Linux"
  pass "the Win32 build sends the same frames as the Linux build"
else
  echo "note: no Linux build given, frames not compared with it"
fi
speed_up=$(awk -v e="$early_span" -v f="$full_span" 'BEGIN { printf "%.2f", f / e }')
if below "$EXPECTED_SPEED_UP" "$speed_up"; then
  echo "figure: the early end is $speed_up times as fast as the full window"
else
  echo "figure: the early end is only $speed_up times as fast as the full window (about 2 is usual; a loaded machine?)"
fi

echo "     the same with faults: ${FAULTS[*]}"
download early_faults early "${FAULTS[@]}"
download full_faults full "${FAULTS[@]}"
same_requests early_faults full_faults "faults: early end against the full window"
pass "split, noisy and late answers: the firmware in memory and the same $(wc -l <"$WORK/early_faults.requests") requests with either window"
finish_checks
