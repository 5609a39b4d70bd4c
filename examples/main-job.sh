#!/bin/bash
# The loader's main job, start to end: a VQ-3140 simulator comes up on a pseudo-terminal, vexal runs
# the command file download.txt against it (identity check, then the download of firmware.s28 in
# packed blocks), the simulator is stopped and writes its memory, and the memory is compared with
# the image of firmware.s28 (0xFF wherever the records put nothing).
#
#   examples/main-job.sh BIN_DIR [simulator options...]     e.g.  examples/main-job.sh build/bin
#
# Simulator options go through unchanged: --baud 115200 paces the line like a real one, and
# --fault drop:rate=0.05 shows the retries at work. Prints MATCH or MISMATCH; the status is 0 only
# for MATCH.
set -uo pipefail

BIN=${1:?usage: examples/main-job.sh BIN_DIR [simulator options...]}
shift
BIN=$(cd "$BIN" && pwd) || exit 2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/lib/sim.sh"
work=$(mktemp -d /tmp/vexal-main-job-XXXXXX)

cleanup() {
  sim_stop
  rm -rf "$work"
}
trap cleanup EXIT

# The front-end: vexal (terminal) unless VEXAL_FRONTEND names another, e.g. vexalw (the window).
front=${VEXAL_FRONTEND:-vexal}
for tool in "$BIN/$front" "$BIN/vq3140-sim"; do
  [[ -x $tool ]] || { echo "MISMATCH: $tool is missing (build it first)"; exit 2; }
done
command -v srec_cat >/dev/null || { echo "MISMATCH: srec_cat is needed for the comparison (package srecord)"; exit 2; }

sim_start "$BIN/vq3140-sim" "$work/com1" /dev/null "$work/sim.log" --dump "$work/memory.bin" "$@" ||
  { echo "MISMATCH: the simulator did not start"; exit 2; }

started=$(date +%s.%N)
(cd "$here" && VEXAL_COM1="$work/com1" "$BIN/$front" download.txt)
status=$?
ended=$(date +%s.%N)

sim_stop
tail -n 1 "$work/sim.log"

srec_cat "$here/firmware.s28" -motorola -fill 0xFF 0 0x1000000 -o "$work/image.bin" -binary 2>/dev/null ||
  { echo "MISMATCH: srec_cat could not read firmware.s28"; exit 1; }
seconds=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", b - a }')

if [[ $status -ne 0 && $front = vexal ]]; then
  echo "MISMATCH: vexal ended with exit code $status after $seconds s"
  exit 1
elif ! cmp "$work/memory.bin" "$work/image.bin"; then
  echo "MISMATCH: the board's memory differs from firmware.s28"
  exit 1
fi
echo "MATCH: the board's 16 MiB memory equals firmware.s28 ($(grep -c '^S2' "$here/firmware.s28") records, $seconds s)"
