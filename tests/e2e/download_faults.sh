#!/bin/bash
# Firmware downloads through a board that loses, delays, damages or garbles some of its answers. A
# download either ends identical to srec_cat's image, or ends with its "Error" line and exit code;
# it never reports success with a memory that differs. Faults the retries absorb must end identical.
#
#   bash download_faults.sh BIN_DIR SOURCE_DIR
source "$(dirname "$0")/download.sh"

random_bin fw.bin 2048
to_srec fw.s28 32 0x010000 "$WORK/fw.bin" -binary -offset 0x010000

EXPECT=match
download "every 5th answer lost" "--fault drop:every=5" fw.s28
download "every 4th answer with a damaged end byte" "--fault bad-end:every=4" fw.s28
download "every 3rd answer with a damaged checksum (not checked)" "--fault bad-checksum:every=3" fw.s28
download "a fifth of the answers lost at random" "--fault drop:rate=0.2 --seed 7" fw.s28

EXPECT=match-or-error
download "every 7th answer after the read window" "--fault late:every=7" fw.s28
download "every 5th answer paused in its middle" "--fault split:every=5" fw.s28
download "every 6th answer after noise bytes" "--fault noise:every=6" fw.s28
download "answers lost and late at random" "--fault drop:rate=0.1 --fault late:rate=0.1 --seed 3" fw.s28
download "noise and split answers at random" "--fault noise:rate=0.1 --fault split:rate=0.1 --seed 5" fw.s28

finish_checks
