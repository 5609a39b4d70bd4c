#!/usr/bin/env python3
"""A TCP proxy between vexal and a network port's server, with the faults the network tests need.

    net_proxy.py MODE UPSTREAM_PORT PORT_FILE [ARG]

Listens on a free port of 127.0.0.1 (written to PORT_FILE once it listens) and joins each client to
127.0.0.1:UPSTREAM_PORT. MODE:
  pass            bytes as they come
  bytes           every byte in its own segment, both ways (every telnet sequence split at each place)
  delay MS        each way, every piece held MS milliseconds (their spacing kept)
  cut-up N        the connection closed once N bytes went from the client to the server
  cut-down N      the connection closed once N bytes went from the server to the client
  no-options      every telnet command, negotiation and subnegotiation removed, both ways (a server
                  that answers no option; IAC IAC, a data byte, passes)
  notify          a line-state or modem-state notification put in after every data byte the server sends
Runs until it is killed.
"""
import os
import queue
import socket
import sys
import threading
import time

IAC, SB, SE = 255, 250, 240
NEGOTIATIONS = (251, 252, 253, 254)
COM_PORT_OPTION = 44
NOTIFICATIONS = (bytes([IAC, SB, COM_PORT_OPTION, 106, 0x60, IAC, SE]),
                 bytes([IAC, SB, COM_PORT_OPTION, 107, 0x30, IAC, SE]))
BYTE_GAP = 0.0005  # seconds between single-byte segments, so the receiver reads them apart


class Telnet:
    """Splits a telnet stream into (is_data, bytes) pieces, keeping its place across reads."""

    def __init__(self):
        self.state = "data"
        self.held = bytearray()

    def pieces(self, chunk):
        out = []
        for b in chunk:
            out.extend(self.step(b))
        return out

    def step(self, b):
        s = self.state
        if s == "data":
            if b == IAC:
                self.state, self.held = "iac", bytearray([b])
                return []
            return [(True, bytes([b]))]
        self.held.append(b)
        if s == "iac":
            if b == IAC:
                self.state = "data"
                return [(True, bytes(self.held))]
            if b in NEGOTIATIONS:
                self.state = "option"
                return []
            if b == SB:
                self.state = "sub"
                return []
            self.state = "data"
            return [(False, bytes(self.held))]
        if s == "option":
            self.state = "data"
            return [(False, bytes(self.held))]
        if s == "sub":
            if b == IAC:
                self.state = "subiac"
            return []
        # subiac
        if b == SE:
            self.state = "data"
            return [(False, bytes(self.held))]
        self.state = "sub"
        return []


class Pump:
    """One direction of one connection."""

    def __init__(self, mode, arg, src, dst, upstream, on_cut):
        self.mode, self.arg, self.src, self.dst = mode, arg, src, dst
        self.upstream = upstream  # client to server
        self.on_cut = on_cut
        self.count = 0
        self.telnet = Telnet()
        self.notice = 0

    def transform(self, chunk):
        if self.mode == "no-options":
            return b"".join(p for data, p in self.telnet.pieces(chunk) if data)
        if self.mode == "notify" and not self.upstream:
            out = bytearray()
            for data, p in self.telnet.pieces(chunk):
                out += p
                if data:
                    out += NOTIFICATIONS[self.notice % 2]
                    self.notice += 1
            return bytes(out)
        return chunk

    def send(self, chunk):
        if self.mode == "bytes":
            for i in range(len(chunk)):
                self.dst.sendall(chunk[i:i + 1])
                if not self.upstream:
                    time.sleep(BYTE_GAP)
        else:
            self.dst.sendall(chunk)

    def cut_due(self):
        limit_mode = "cut-up" if self.upstream else "cut-down"
        if self.mode != limit_mode:
            return None
        return max(0, int(self.arg) - self.count)

    def run(self):
        delay = float(self.arg) / 1000 if self.mode == "delay" else 0
        if delay:
            self.queue = queue.Queue()
            threading.Thread(target=self.later, daemon=True).start()
        try:
            while True:
                chunk = self.src.recv(4096)
                if not chunk:
                    break
                room = self.cut_due()
                if room is not None and room < len(chunk):
                    self.send(chunk[:room])
                    self.on_cut()
                    return
                self.count += len(chunk)
                if delay:
                    self.queue.put((time.monotonic() + delay, chunk))
                else:
                    self.send(self.transform(chunk))
        except OSError:
            pass
        self.on_cut()

    def later(self):
        # Pieces leave in the order they came, each at its own time.
        while True:
            due, chunk = self.queue.get()
            time.sleep(max(0, due - time.monotonic()))
            try:
                self.dst.sendall(chunk)
            except OSError:
                return


def serve(client, mode, arg, upstream_port):
    server = socket.create_connection(("127.0.0.1", upstream_port))
    for s in (client, server):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    closed = threading.Event()

    def close_both():
        if closed.is_set():
            return
        closed.set()
        for s in (client, server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    for src, dst, up in ((client, server, True), (server, client, False)):
        pump = Pump(mode, arg, src, dst, up, close_both)
        threading.Thread(target=pump.run, daemon=True).start()


def main():
    mode, upstream_port, port_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    arg = sys.argv[4] if len(sys.argv) > 4 else "0"
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    while True:
        client, _ = listener.accept()
        serve(client, mode, arg, upstream_port)


if __name__ == "__main__":
    main()
