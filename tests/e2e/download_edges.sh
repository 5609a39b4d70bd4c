#!/bin/bash
# Firmware downloads at the edges of the block packing, checked byte for byte against srec_cat:
# records across 128-byte boundaries, the first and last addresses of the 24-bit space, one block
# collected from two files, and records that no S8 line closes (all written, but the run fails: the
# board never confirmed them).
#
#   bash download_edges.sh BIN_DIR SOURCE_DIR
source "$(dirname "$0")/download.sh"

random_bin c.bin 700
random_bin edge.bin 256

to_srec cross.s28 32 0x0100F0 "$WORK/c.bin" -binary -offset 0x0100F0
download "records crossing 128-byte boundaries" "" cross.s28

to_srec ends.s28 32 0 "$WORK/edge.bin" -binary -offset 0 "$WORK/edge.bin" -binary -offset 0xFFFF00
download "data at 0x000000 and up to 0xFFFFFF" "" ends.s28

to_srec low.s28 16 0x040000 "$WORK/c.bin" -binary -offset 0x040000 -crop 0x040000 0x040008
grep '^S2' "$WORK/low.s28" >"$WORK/share1.s28"
to_srec share2.s28 16 0x040000 "$WORK/c.bin" -binary -offset 0x040000 -crop 0x040008 0x040100
download "several files sharing one block" "" share1.s28 share2.s28

to_srec closed.s28 32 0x050000 "$WORK/c.bin" -binary -offset 0x050000
without_s8 closed.s28 open.s28
EXPECT=written-error:3 download "records without an S8 line: the last block still goes, the run fails" "" open.s28

# A build rewrites the firmware in place (the same file, the same length, other bytes) while a paced
# download of it runs: the run ends with exit code 3 before a changed byte goes out, saying how far it
# had come; it never reports success with a board that holds neither version.
random_bin v1.bin 131072
random_bin v2.bin 131072
to_srec v1.s28 32 0x010000 "$WORK/v1.bin" -binary -offset 0x010000
to_srec v2.s28 32 0x010000 "$WORK/v2.bin" -binary -offset 0x010000
cp "$WORK/v1.s28" "$WORK/live.s28"
start_sim --baud 115200
(cd "$WORK" && exec env VEXAL_COM1="$WORK/com1" "$BIN/vexal" b115200 live.s28 >"$WORK/vexal.log" 2>"$WORK/vexal.err") &
running=$!
for ((tries = 0; tries < 1000; tries++)); do  # the first block accepted: its progress line
  grep -q 'live.s28: .*%' "$WORK/vexal.err" 2>/dev/null && break
  sleep 0.01
done
dd if="$WORK/v2.s28" of="$WORK/live.s28" conv=notrunc status=none
wait "$running"
STATUS=$?
stop_sim
if [[ $STATUS -ne 3 ]]; then report failed "a file rewritten in place during its download" "vexal ended with $STATUS"
elif ! tr -d '\n' <"$WORK/vexal.log" | grep -qF "Error: File live.s28 changed while it was being sent."; then
  report failed "a file rewritten in place during its download" "no line saying the file changed"
elif ! grep -qF "live.s28: its lines 1 to " "$WORK/vexal.err"; then
  report failed "a file rewritten in place during its download" "standard error does not say what was sent"
else report ok "a file rewritten in place during its download ends the run with exit code 3"; fi

finish_checks
