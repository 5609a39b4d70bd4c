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

finish_checks
