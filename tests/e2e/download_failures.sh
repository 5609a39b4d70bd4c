#!/bin/bash
# Downloads a board ends: refused blocks and a board that falls silent end with their error and exit
# code, never with success.
#
#   bash download_failures.sh BIN_DIR SOURCE_DIR
source "$(dirname "$0")/download.sh"

random_bin fw.bin 2048  # 16 blocks exactly, then the S8 telegram
to_srec fw.s28 32 0x010000 "$WORK/fw.bin" -binary -offset 0x010000

EXPECT=error:4
download "every 5th block refused" "--fault refuse:every=5" fw.s28
download "silent in the middle of the blocks" "--fault silent:after=6" fw.s28
download "a BIOS older than 1.28 refuses blocks" "--old-bios" fw.s28
EXPECT=error:5
download "silent after the last block: the S8 telegram goes unanswered" "--fault silent:after=16" fw.s28

finish_checks
