#!/usr/bin/env python3
"""A stand-in board on a pseudo-terminal, for the window tests while the simulator is not built.

Same interface as the simulator's part the tests use: --link PATH (symlink to the pty),
--dump FILE (the 16 MiB image, written on SIGTERM). Answers '*' to block telegrams (storing their
data), '%*' to S8 records, an identity text to "I000000\\n" and '*' to anything else. Each answer is
held back a little so a download takes visible time.
"""
import argparse
import os
import pty
import select
import signal
import sys
import time
import tty

MEMORY_SIZE = 16 << 20
PREFIX_LEN = 8          # 68 L L 68 C A 'G' F5
FRAME_OVERHEAD = 6      # start, L, L, start ... checksum, end
ANSWER_DELAY = 0.02


def decode_block(payload, memory):
    """Stores the data of a run ('s') or mask ('n') block payload (CRC excluded)."""
    addr = payload[1] | payload[2] << 8 | payload[3] << 16
    if payload[0:1] == b"s":
        count = payload[4]
        memory[addr:addr + count] = payload[5:5 + count]
        return
    mask, data = payload[4:20], iter(payload[20:])
    for i in range(128):
        if mask[i >> 3] >> (i & 7) & 1:
            memory[addr + i] = next(data)


def answer_for(user_data, memory):
    body = user_data[4:]  # after the control and address fields, 'G' and F5
    if body[:1] in (b"s", b"n"):
        decode_block(body[:-2], memory)
        return b"*"
    if body.startswith(b"S8"):
        return b"%*"
    if body.startswith(b"I000000"):
        return b"VQ-3140 ZARVEN 1.28 (stand-in)"
    return b"*"


def frame(text):
    user = b"\x7f\x7f\x00\x00" + text
    return bytes([0x68, len(user), len(user), 0x68]) + user + bytes([sum(user) & 0xFF, 0x16])


def take_frames(buf):
    """Yields the user data of every complete request in buf, leaving the rest in it."""
    while True:
        start = buf.find(b"\x68")
        if start < 0:
            del buf[:]
            return
        del buf[:start]
        if len(buf) < 4:
            return
        length = buf[1]
        if len(buf) < length + FRAME_OVERHEAD:
            return
        user = bytes(buf[4:4 + length])
        del buf[:length + FRAME_OVERHEAD]
        yield user


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--link", required=True)
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()

    memory = bytearray(MEMORY_SIZE)
    master, slave = pty.openpty()
    tty.setraw(slave)
    if os.path.lexists(args.link):
        os.unlink(args.link)
    os.symlink(os.ttyname(slave), args.link)

    def dump_and_exit(*_):
        with open(args.dump, "wb") as out:
            out.write(memory)
        sys.exit(0)

    signal.signal(signal.SIGTERM, dump_and_exit)
    pending = bytearray()
    while True:
        ready, _, _ = select.select([master], [], [], 1.0)
        if not ready:
            continue
        try:
            pending += os.read(master, 4096)
        except OSError:
            time.sleep(0.05)  # no one has the pty open right now
            continue
        for user in list(take_frames(pending)):
            time.sleep(ANSWER_DELAY)
            os.write(master, frame(answer_for(user, memory)))


if __name__ == "__main__":
    main()
