#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (run it after changing a seed).

The seeds are the inputs the loader meets in real use and at its documented edges: the formats it prints,
the worked S-record examples, command files with every line kind, memory commands, answer frames whole,
split and late. libFuzzer grows its own corpus from them; only these seeds are committed.
"""
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SEP = b"\x1e"  # the section separator of fuzz_support.h


def frame(text: bytes, control=0x08) -> bytes:
    user = bytes([control, 0x7F, 0x47, 0xF5]) + text
    return bytes([0x68, len(user), len(user), 0x68]) + user + bytes([sum(user) & 0xFF, 0x16])


def srec(address: int, data: bytes, kind=b"2") -> bytes:
    body = bytes([len(data) + 4]) + address.to_bytes(3, "big") + data
    return b"S" + kind + body.hex().upper().encode() + b"%02X" % (~sum(body) & 0xFF)


def mprintf_seeds():
    formats = [
        (b"   Sending block %06X   ", struct.pack("<I", 0x012300)),
        (b"\nError:%c|%s|\n", struct.pack("<i", ord("s")) + b"!bad CRC\0"),
        (b"Serial UART port:%3x irq:%x baud:%d mode:%x", struct.pack("<IIII", 0x3F8, 4, 38400, 0)),
        (b"Error: Command too long (%3d characters, at most %3d).\n", struct.pack("<II", 300, 246)),
        (b"Error: Bad syntax:%s line:%d :%s\n", b"job.txt\0" + struct.pack("<I", 12) + b"?abc\n\0"),
        (b"Exit code %d", struct.pack("<i", -3)),
        (b"%6.2f|%-5d|%05X|%-8s|%q|%5.9f", struct.pack("<d", 3.14159) + struct.pack("<iI", -42, 0xABC)
         + b"left\0" + struct.pack("<d", -1e30)),
        (b"%99s%-99d%099x%9.0f%ld%-0c%%", b"x" * 300 + b"\0" + struct.pack("<IId", 7, 0xFFFFFF, float("nan"))),
        (b"ab%5.", b""),
        (b"\rAnswer: %s", b"=00FF\x80\x01tail\0"),
    ]
    return [f + b"\0" + a for f, a in formats]


def console_seeds():
    banner = b"\n VQ-3140 loader ver. 0.95 (ZARVEN v1.28) (c) 2026 the vexal developers \n"
    return [
        banner + b"Serial UART port:3F8 irq:4 baud:38400 mode:0\rSerial UART port:3F8 \nUART init O.K.\n",
        b"".join(b"line %d\n" % i for i in range(30)),
        b"\rSend: " + b"x" * 245 + b"\r\rAnswer: OK" + b" " * 240,
        b"abc\rde\n" + b"y" * 170 + b"\n\r\n" + b"z" * 81 + b"\r",
        bytes(range(256)) * 3,
        (b"\rPacking...   Sending block 012300   OK" * 20) + b"\nExit code     0",
    ]


def binwrite_seeds():
    run = srec(0x012345, bytes([0x11, 0x22, 0x33])) + b"\n" + b"S804000000FB\n"
    mask = b"S206012300AABB70\nS205012310CCFA\nS804000000FB\n"
    boundary = b"S20801237E010203044B\n"
    full = srec(0x000100, bytes(range(64))) + b"\n" + srec(0x000140, bytes(range(64, 128))) + b"\n"
    edges = [
        b"S2030000FF\n",                                    # count below 4
        b"s2080123g0010203044B\n",                          # a bad digit in the address
        b"S20801237E01020\n",                               # a line ending inside its data
        b"S2\xff\xff01237E01020304\n",                      # 0xFF bytes at a pair position
        srec(0xFFFFFE, bytes([1, 2, 3])) + b"\n",           # data past 24 bits
        srec(0xFFFF80, bytes(range(128))[:120]) + b"\n" + b"S804FFFF80FF\n",
        b"S20701234511223329\r\nS2070123451122332\n",
        srec(0x000010, b"\x01\x02", b"8") + b"\n",          # an S8 line with data
        b"s20701234511223329\nS2070123401122334\n",        # lower case, out of order
    ]
    return [run, mask, boundary, full, b"1A\n" + run] + edges


def cmdfile_seeds():
    records = srec(0x010000, bytes(range(32))) + b"\n" + srec(0x010020, bytes(range(32, 64))) + b"\n" \
        + b"S804010000EA\n"
    job = (b"; a job\nI000000\n!VQ-3140!not a VQ-3140\n?v1.28!#n.txt\n??v1.27!XOLD\n?!too old\n"
           b"I000000\n!ZARVEN\n")
    memory = b"@binget000000,000040>r.bin\n@hexget000100,000010>d.txt\n@binput000200<r.bin\n"
    seeds = [
        job + SEP + records,
        records,
        job + SEP + records + SEP + b"TVQ-3140 ZARVEN v1.28" + SEP + b"T*" + SEP + b"T%*",
        b"I000000\n" + SEP + SEP + b"S" + SEP + b"LOK" + SEP + b"POK" + SEP + b"R\x68\x05\x05\x68",
        memory + SEP + SEP + b"T=" + b"00" * 64 + SEP + b"T=" + b"41" * 16 + SEP + b"T*",
        b"#n.txt\n#j.txt\n" + SEP + b"#n.txt\n",
        b"?abc\n" + SEP + SEP + b"Tabc",
        b"A\r\nB\r\n\x1a\nC\n" + b"x" * 300 + b"\n",
        b"\x00\x01\x02\x80\xff\xfe binary junk \n\x7f\x1b",
        b"#.\n",
        b"!expected\n??x!y\n?!\n",
    ]
    return seeds


def background(a):
    """What the fuzz targets' sparse board holds where nothing was written (fuzz/sparse_board.h)."""
    return ((a * 151) ^ (a >> 8) ^ (a >> 16)) & 0xFF


def prikaz_seeds():
    data = bytes(range(256)) * 2
    return [
        data + SEP + b"@binput000200<f" + SEP + b"@binget000200,000200>r.bin" + SEP + b"@hexget0001F0,000021>d.txt",
        b"" + SEP + b"@binget000000,000001>x\n",
        b"abc" + SEP + b"@binputFFFFFE<f",
        b"" + SEP + b"@bingetFFFFC0,000080>x",
        b"" + SEP + b"@hexget-00001,000010>x",
        b"" + SEP + b"@binget000000,-00001>x",
        b"" + SEP + b"@binget000000;000010>x" + SEP + b"@bin" + SEP + b"@binput000000>f",
        b"" + SEP + b"@binget0x0010,0x0010>." + SEP + b"@binput000000<missing",
        b"" + SEP + b"@binget000000,FFFFFF>big",
        # @verify against a board that holds the file (written first) and one that does not.
        srec(0x000300, bytes(range(40))) + b"\n" + b"S804000000FB\n" + SEP + b"@binput000300<f" + SEP + b"@verify<f",
        b"S2050001000F\nS804000000FB\n" + SEP + b"@verify<f",
        srec(0x000400, bytes(background(a) for a in range(0x400, 0x410))) + b"\n" + SEP + b"@verify<f",
        b"S2030001FF\n" + SEP + b"@verify<f" + SEP + b"@verify<missing",
    ]


def telegram_seeds():
    def script(*answers):
        out = b""
        for chunks in answers:
            out += bytes([len(chunks)])
            for gap_steps, data in chunks:
                out += bytes([gap_steps, len(data)]) + data
        return out

    ident = frame(b"VQ-3140 ZARVEN v1.28")
    star = frame(b"*")
    read = frame(b"=" + b"AB" * 64)
    longest = frame(b"x" * 246)  # L = 250
    return [
        b"\x00" + script([(0, ident)], [(0, star)], [(0, read)]),
        b"\x01" + script([(0, ident)], [(0, star)], [(0, read)]),
        b"\x00" + script([(0, ident[:7]), (20, ident[7:])], [(200, star)], [], [(0, read), (1, b"\x16\x16")]),
        b"\x00" + script([(0, b"\x68\x03\x03\x68\x08\x7f\x47\x16")], [(0, longest[:200]), (0, longest[200:])],
                         [(0, b"\xff" * 255)]),
        b"\x00" + script([(0, star + b"\x00\x68")], [(0, ident)], [(8, read[:100]), (8, read[100:])]),
    ]


def firmware_seeds():
    # The first byte chooses the size of the pieces the text is fed in.
    elf = bytearray(52 + 32 + 4)
    elf[0:7] = b"\x7fELF\x01\x01\x01"
    struct.pack_into("<HHIIIIIHHHHHH", elf, 16, 2, 3, 1, 0x8000, 52, 0, 0, 52, 32, 1, 0, 0, 0)
    struct.pack_into("<IIIIIIII", elf, 52, 1, 84, 0x8000, 0x8000, 4, 4, 5, 4)
    elf[84:88] = b"\xde\xad\xbe\xef"
    # ELF files as fuzz/elf_maker.h makes them: a kind byte, a choice per field (0: its valid value), the
    # payload. Valid files of every kind, so one mutated choice puts a field at an edge of its arithmetic.
    def made(kind, headers, choices=b""):
        fields = 7 + 4 * headers + 1
        return b"\x01" + bytes([kind]) + choices.ljust(fields, b"\x00") + b"\xde\xad\xbe\xef" * 8

    note_first = bytes(7) + bytes([138])  # p_type 1 + 3: PT_NOTE
    return [
        made(0b00101, 1),               # 64-bit, little-endian, one segment
        made(0b00110, 1),               # 32-bit, big-endian
        made(0b01011, 2),               # 64-bit, big-endian, two segments
        made(0b10100, 1),               # 32-bit, the count in section header 0
        made(0b01101, 3, note_first),   # 64-bit, a note and two segments
        b"\x05S00600004844521B\nS1051000ABCD72\nS5030001FB\nS9031000EC\n",
        b"\x00S20701234511223329\r\nS80401234592\r\n",
        b"\x03\xef\xbb\xbfS30600010000EE0A\nS70500010000F9\n",
        b"\x07:020000040001F9\n:02123400112285\n:04000005000123458E\n:00000001FF\n",
        b"\x02:020000021000EC\n:01000400AA51\n:0400000310000004E5\n:0100000055AA\n:0100000056A9\n:00000001FF\n",
        b"\x01" + bytes(elf),
    ]


TARGETS = {
    "mprintf": mprintf_seeds,
    "console": console_seeds,
    "binwrite": binwrite_seeds,
    "cmdfile": cmdfile_seeds,
    "prikaz": prikaz_seeds,
    "telegram": telegram_seeds,
    "firmware": firmware_seeds,
}


def main():
    for target, seeds in TARGETS.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for seed in seeds():
            name = "seed-" + hashlib.sha1(seed).hexdigest()[:16]
            with open(os.path.join(folder, name), "wb") as f:
                f.write(seed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
