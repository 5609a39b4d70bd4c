#!/bin/bash
# Rebuilds examples/firmware.s28, the example firmware: deterministic bytes (a fixed linear congruential
# sequence, so every checkout gets the same image) laid out like a small firmware, written as S2
# records of 32 bytes with an S8 end record and no header or count records, which the board does not
# take. Needs python3 and srec_cat.
#
#   0x010000  192 KiB  code: pseudo-random bytes
#   0x040000   40 KiB  message table: text lines
#   0x07FFF0     96 B  configuration: straddles the 0x080000 boundary
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
state = 0x2545F491
def lcg_bytes(n):
    global state
    out = bytearray()
    for _ in range(n):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(state >> 24)
    return bytes(out)
open(work + "/code.bin", "wb").write(lcg_bytes(192 * 1024))
text = bytearray()
k = 0
while len(text) < 40 * 1024:
    text += b"MSG%05d VQ-3140 example firmware message line\r\n" % k
    k += 1
open(work + "/text.bin", "wb").write(bytes(text[:40 * 1024]))
open(work + "/config.bin", "wb").write(lcg_bytes(96))
PY

srec_cat "$work/code.bin" -binary -offset 0x010000 \
         "$work/text.bin" -binary -offset 0x040000 \
         "$work/config.bin" -binary -offset 0x07FFF0 \
         -o "$here/firmware.s28" -motorola -address-length=3 -Output_Block_Size 32 \
         -disable=header -disable=data-count -execution-start-address=0x010000
echo "wrote $here/firmware.s28 ($(wc -l < "$here/firmware.s28") lines)"
