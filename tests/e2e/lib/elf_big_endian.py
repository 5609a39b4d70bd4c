#!/usr/bin/env python3
"""Rewrites a little-endian ELF executable as the big-endian file of the same segments.

   elf_big_endian.py IN OUT

The machine has no big-endian toolchain, so the tests make their big-endian ELF files from the ones
its linker writes: the ELF header and the program headers are written again in big-endian order, the
section headers are left out (a loader reads only the program headers), and the segments' bytes stay
where they are.
"""
import struct
import sys

data = bytearray(open(sys.argv[1], "rb").read())
is64 = data[4] == 2
assert data[:4] == b"\x7fELF" and data[5] == 1, "a little-endian ELF file is needed"
# e_type .. e_shstrndx, after the 16 bytes of e_ident.
ehdr = "HHIQQQIHHHHHH" if is64 else "HHIIIIIHHHHHH"
phdr = "IIQQQQQQ" if is64 else "IIIIIIII"
fields = list(struct.unpack_from("<" + ehdr, data, 16))
phoff, phentsize, phnum = fields[4], fields[8], fields[9]
fields[5] = 0   # e_shoff
fields[10] = 0  # e_shentsize
fields[11] = 0  # e_shnum
fields[12] = 0  # e_shstrndx
data[5] = 2
struct.pack_into(">" + ehdr, data, 16, *fields)
for i in range(phnum):
    at = phoff + i * phentsize
    struct.pack_into(">" + phdr, data, at, *struct.unpack_from("<" + phdr, data, at))
open(sys.argv[2], "wb").write(data)
