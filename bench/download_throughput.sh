#!/bin/bash
# Download throughput through the board simulator on a line paced at a real baud rate, against the
# line's own limit: the time the line needs to carry every request and answer frame of the download
# one after the other (stop-and-wait, 10 bits a byte: start, 8 data, stop), taken from the
# simulator's frame log. What is left is the loader's and the board's turn-around: the read window's
# 15 ms of silence after each answer, and the board's think time.
#
#   bench/download_throughput.sh BIN_DIR [KIB [BAUD [RECORD_BYTES]]]     defaults: 64 KiB, 115200, 32
set -uo pipefail

BIN=$(cd "${1:?usage: download_throughput.sh BIN_DIR [KIB [BAUD [RECORD_BYTES]]]}" && pwd)
KIB=${2:-64}
BAUD=${3:-115200}
RECORD=${4:-32}
BITS_PER_BYTE=10
work=$(mktemp -d /tmp/vexal-bench-XXXXXX)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((KIB * 1024)) /dev/urandom >"$work/fw.bin"
srec_cat "$work/fw.bin" -binary -offset 0x010000 -o "$work/fw.s28" -motorola -address-length=3 \
  -Output_Block_Size "$RECORD" -disable=header -disable=data-count -execution-start-address=0x010000

"$BIN/vq3140-sim" --link "$work/com1" --baud "$BAUD" --log "$work/line.log" >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 250); do [[ -e $work/com1 ]] && break; sleep 0.02; done

start=$(date +%s.%N)
(cd "$work" && VEXAL_COM1="$work/com1" "$BIN/vexal" b"$BAUD" fw.s28 >"$work/vexal.out")
status=$?
end=$(date +%s.%N)
kill -TERM "$sim_pid" && wait "$sim_pid"
sim_pid=
[[ $status -eq 0 ]] || { echo "the download failed with exit code $status"; tail -3 "$work/vexal.out"; exit 1; }

# A log line: "<ms> <dir> <hex bytes...>[  | note]"; in = request frames, out = answers.
read -r requests answers request_bytes answer_bytes < <(awk '
  $2 == "in" || $2 == "out" {
    n = 0
    for (i = 3; i <= NF && $i != "|"; i++) n++
    if ($2 == "in") { rq++; rb += n } else { an++; ab += n }
  }
  END { print rq + 0, an + 0, rb + 0, ab + 0 }' "$work/line.log")

awk -v bytes=$((KIB * 1024)) -v t0="$start" -v t1="$end" -v baud="$BAUD" -v bits="$BITS_PER_BYTE" \
    -v rq="$requests" -v an="$answers" -v rb="$request_bytes" -v ab="$answer_bytes" -v rec="$RECORD" '
  BEGIN {
    took = t1 - t0
    line = (rb + ab) * bits / baud
    printf "download of %d bytes in %d-byte S2 records at %d baud\n", bytes, rec, baud
    printf "  telegrams      %d requests (%d bytes), %d answers (%d bytes)\n", rq, rb, an, ab
    printf "  took           %.2f s   %.0f bytes/s\n", took, bytes / took
    printf "  line limit     %.2f s   %.0f bytes/s (every frame back to back)\n", line, bytes / line
    printf "  ratio          %.1f %% of the line limit\n", 100 * line / took
    printf "  per telegram   %.1f ms, of which the frames %.1f ms\n", 1000 * took / rq, 1000 * line / rq
  }'
