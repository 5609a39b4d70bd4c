#!/bin/bash
# With the option old every S2 and S8 line goes to the board as a text telegram of its own, as a BIOS
# older than 1.28 needs; the memory must end identical to srec_cat's image all the same.
#
#   bash download_old.sh BIN_DIR SOURCE_DIR
source "$(dirname "$0")/download.sh"

random_bin fw.bin 1500
to_srec fw.s28 32 0x010000 "$WORK/fw.bin" -binary -offset 0x010000 "$WORK/fw.bin" -binary -offset 0x0200F0

download "option old against a BIOS older than 1.28" "--old-bios" old fw.s28
download "option old against a current BIOS" "" old fw.s28

finish_checks
