#!/usr/bin/env python3
"""A stand-in for vexal that the station's tests drive: it speaks the station's side of vexal's contract
(--port, --list-ports, VEXAL_EVENTS) without a board, so the tests can make any board behave as they
need, crashes and silence included.

  fake_vexal.py --list-ports      lists $VEXAL_DEV_ROOT/serial/by-id (links to board files), or prints
                                  the file $FAKE_PORTS when it is set; sleeps $FAKE_LIST_DELAY s first;
                                  appends "started" to the file $FAKE_LIST_RECORD, when it is set, as it
                                  begins, and "listed" once it has listed
  fake_vexal.py --port DEV ARGS   runs a "job" on the board file DEV: lines of KEY=VALUE

Board file keys (all optional):
  identity=TEXT   the identity reported (default "VQ-3140 ZARVEN v1.28")
  bytes=N         bytes "loaded" (default 4096), in steps of 1024 with progress events
  step=S          seconds per step (default 0.02)
  start=N         bytes counted as loaded before the first step (default 0): a board seen mid-load
  code=N          the exit code (default 0); error=TEXT the error line of a failure
  reason=TEXT     the end event's reason
  crash=SIG       ends by this signal number mid-load, without an end event
  noevents=1      writes no events at all
  oldevents=1     writes the events of a vexal that knows no "file" event nor the end's newer fields
  garbage=1       writes lines that aren't events between the real ones
  deaf=1          ignores SIGINT and SIGTERM
Every run appends "ARGS: <args joined by |>" to its console (standard output) and, when the file
FAKE_RECORD is set, the same line to it. It reports a "file" event for every argument that names a
command file and every file of an @binput or @verify, with its size and SHA-256. Just before it
exits it makes the file DEV.ended, so a test knows when a board's vexal has really ended.
"""
import hashlib
import json
import os
import signal
import sys
import time


def list_ports():
    record = os.environ.get("FAKE_LIST_RECORD")
    if record:
        with open(record, "a") as f:
            f.write("started\n")
    time.sleep(float(os.environ.get("FAKE_LIST_DELAY", "0")))
    fixed = os.environ.get("FAKE_PORTS")
    if fixed:
        sys.stdout.write(open(fixed).read())
    else:
        by_id = os.path.join(os.environ.get("VEXAL_DEV_ROOT", "/dev"), "serial", "by-id")
        names = sorted(os.listdir(by_id)) if os.path.isdir(by_id) else []
        for name in names:
            link = os.path.join(by_id, name)
            if os.path.exists(link):
                print("\t".join([os.path.realpath(link), name, "-", "-", "-"]))
    sys.stdout.flush()
    if record:
        with open(record, "a") as f:
            f.write("listed\n")
    return 0


def board_settings(device):
    settings = {"identity": "VQ-3140 ZARVEN v1.28", "bytes": "4096", "step": "0.02", "code": "0", "error": ""}
    with open(device) as board_file:
        for line in board_file:
            key, _, value = line.rstrip("\n").partition("=")
            if key:
                settings[key] = value
    return settings


class Events:
    def __init__(self, enabled):
        target = os.environ.get("VEXAL_EVENTS", "")
        self.out = os.fdopen(int(target), "w") if enabled and target.isdigit() else None

    def send(self, **fields):
        if self.out:
            self.out.write(json.dumps(fields) + "\n")
            self.out.flush()

    def garbage(self, text):
        if self.out:
            self.out.write(text + "\n")
            self.out.flush()


def utc_now():
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


def files_of(args):
    """(role, path) of each file the job names, as vexal opens them."""
    for arg in args:
        if arg.startswith("@binput") and "<" in arg:
            yield "binput", arg.split("<", 1)[1]
        elif arg.startswith("@verify<"):
            yield "verify", arg[len("@verify<"):]
        elif "." in arg and not arg.startswith("@"):
            yield "command", arg


def file_event(events, role, path):
    try:
        data = open(path, "rb").read()
    except OSError:
        return
    events.send(event="file", role=role, path=path, size=len(data), sha256=hashlib.sha256(data).hexdigest())


def run_job(device, args):
    print("ARGS: " + "|".join(args), flush=True)
    record = os.environ.get("FAKE_RECORD")
    if record:
        with open(record, "a") as f:
            f.write(device + " ARGS: " + "|".join(args) + "\n")
    try:
        s = board_settings(device)
    except OSError as e:
        print("vexal: can't open COM1 (%s): %s" % (device, e.strerror), file=sys.stderr)
        return 2
    if s.get("deaf") == "1":
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
    events = Events(s.get("noevents") != "1")
    newer = s.get("oldevents") != "1"
    started = time.monotonic()
    if newer:
        events.send(event="start", version="0.96", port=device, pid=os.getpid(), time=utc_now())
    else:
        events.send(event="start", version="0.95", port=device, pid=os.getpid())
    events.send(event="phase", phase="opening")
    events.send(event="phase", phase="identity")
    events.send(event="identity", id=s["identity"])
    if s.get("garbage") == "1":
        events.garbage("this is no event")
        events.garbage('{"no_event_key": 1}')
        events.garbage('{"event": "shiny-new-kind", "x": 1}')
    for role, path in files_of(args) if newer else []:
        file_event(events, role, path)
    total = int(s["bytes"])
    events.send(event="phase", phase="loading", file="firmware.s28")
    done = int(s.get("start", "0"))
    while done < total:
        time.sleep(float(s["step"]))
        done = min(total, done + 1024)
        events.send(event="progress", phase="loading", done=done, total=total)
        if "crash" in s and done * 2 >= total:
            os.kill(os.getpid(), int(s["crash"]))
    code = int(s["code"])
    if s["error"]:
        print(s["error"])
    print("Exit code %5d" % code)
    seconds = round(time.monotonic() - started, 2)
    if newer:
        events.send(event="end", code=code, error=s["error"], reason=s.get("reason", ""), bytes=done + 44,
                    written=done, read=44, text_retries=1, block_retries=int(s.get("block_retries", "0")),
                    seconds=seconds, time=utc_now())
    else:
        events.send(event="end", code=code, error=s["error"], bytes=done, seconds=seconds)
    return code


def main():
    args = sys.argv[1:]
    if args == ["--list-ports"]:
        return list_ports()
    if len(args) >= 2 and args[0] == "--port":
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        code = run_job(args[1], args[2:])
        if os.path.exists(args[1]):
            open(args[1] + ".ended", "w").close()
        return code
    print("fake vexal: give --list-ports or --port DEV", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
