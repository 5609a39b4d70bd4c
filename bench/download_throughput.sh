#!/bin/bash
# Download throughput through the board simulator on a line paced at a real baud rate, against the
# line's own limit: the time the line needs to carry every request and answer frame of the download
# one after the other (stop-and-wait, 10 bits a byte: start, 8 data, stop), taken from the
# simulator's frame log. What is left is the loader's and the board's turn-around: the read window's
# 15 ms of silence after each answer, and the board's think time.
#
#   bench/download_throughput.sh BIN_DIR [KIB [BAUD [RECORD_BYTES]]]     defaults: 64 KiB, 115200, 32
#
# Runs the download twice, with the early end of the read window (the default) and with the full window.
set -uo pipefail

BIN=$(cd "${1:?usage: download_throughput.sh BIN_DIR [KIB [BAUD [RECORD_BYTES]]]}" && pwd)
KIB=${2:-64}
BAUD=${3:-115200}
RECORD=${4:-32}
BITS_PER_BYTE=10
source "$(dirname "$0")/../scripts/lib/sim.sh"
work=$(mktemp -d /tmp/vexal-bench-XXXXXX)
cleanup() {
  sim_stop
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((KIB * 1024)) /dev/urandom >"$work/fw.bin"
srec_cat "$work/fw.bin" -binary -offset 0x010000 -o "$work/fw.s28" -motorola -address-length=3 \
  -Output_Block_Size "$RECORD" -disable=header -disable=data-count -execution-start-address=0x010000

# One download with the read window given (early: ends at the complete answer frame, the default;
# full: VEXAL_WINDOW=full waits out 15 ms of silence after every answer). Prints one row.
download() {
  local mode=$1 window=
  [[ $mode = full ]] && window=full
  rm -f "$work/line.log"
  sim_start "$BIN/vq3140-sim" "$work/com1" /dev/null "$work/sim.err" --baud "$BAUD" --log "$work/line.log" || exit 1
  local start end status
  start=$(date +%s.%N)
  (cd "$work" && VEXAL_WINDOW=$window VEXAL_COM1="$work/com1" "$BIN/vexal" b"$BAUD" fw.s28 >"$work/vexal.out")
  status=$?
  end=$(date +%s.%N)
  sim_stop
  [[ $status -eq 0 ]] || { echo "the download failed with exit code $status"; tail -3 "$work/vexal.out"; exit 1; }

  # A log line: "<ms> <dir> <hex bytes...>[  | note]"; in = request frames, out = answers.
  awk -v mode="$mode" -v bytes=$((KIB * 1024)) -v t0="$start" -v t1="$end" -v baud="$BAUD" -v bits="$BITS_PER_BYTE" '
    $2 == "in" || $2 == "out" {
      n = 0
      for (i = 3; i <= NF && $i != "|"; i++) n++
      if ($2 == "in") { rq++; rb += n } else { an++; ab += n }
    }
    END {
      took = t1 - t0
      line = (rb + ab) * bits / baud
      printf "  %-6s %6d %9.2f s %9.0f B/s %9.0f B/s %8.1f %% %9.1f ms\n", mode, rq, took, bytes / took,
             bytes / line, 100 * line / took, 1000 * took / rq
    }' "$work/line.log"
}

echo "download of $((KIB * 1024)) bytes in $RECORD-byte S2 records at $BAUD baud through vq3140-sim"
echo "  window telegrams      took      speed  line limit    ratio  per telegram"
download early
download full
