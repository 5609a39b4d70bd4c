#!/usr/bin/env python3
"""Gives the first PT_LOAD program header of an ELF file another physical address (p_paddr).

   elf_set_paddr.py IN OUT ADDRESS

The tests make a file whose segment lies where no linker would put it (an address that, with the
segment's size, wraps past 2^64) from one the linker wrote: only p_paddr changes.
"""
import struct
import sys

PT_LOAD = 1
data = bytearray(open(sys.argv[1], "rb").read())
assert data[:4] == b"\x7fELF", "an ELF file is needed"
is64 = data[4] == 2
order = "<" if data[5] == 1 else ">"
phoff = struct.unpack_from(order + ("Q" if is64 else "I"), data, 32 if is64 else 28)[0]
phentsize, phnum = struct.unpack_from(order + "HH", data, 54 if is64 else 42)
paddr_at, word = (24, "Q") if is64 else (12, "I")
for i in range(phnum):
    at = phoff + i * phentsize
    if struct.unpack_from(order + "I", data, at)[0] == PT_LOAD:
        struct.pack_into(order + word, data, at + paddr_at, int(sys.argv[3], 0))
        break
else:
    sys.exit("no PT_LOAD program header")
open(sys.argv[2], "wb").write(data)
