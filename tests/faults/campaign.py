#!/usr/bin/env python3
"""Fault campaign: many small downloads and memory round trips through a misbehaving board.

Every run starts its own vq3140-sim (unpaced) with faults drawn from a seeded generator, lets vexal download
random firmware or write and read back a random file, stops the board and checks the invariant:

  - exit code 0: the board's memory equals the firmware (0xFF where no record put data), or equals the
    file written, and a file read back equals the memory;
  - any other end: one of the loader's exit codes (2 to 9), the console's "Exit code" line agreeing, and
    the line that says what failed ("Error...", "Bad format...", "Target didn't respond.");
  - no run outlives its bound (9 attempts of 306 ms per telegram, and then some).

Among the board's faults, twice repeats answers a few ms behind themselves (a run that sees one must not
end with exit 0 unless every answer it took was the one asked for) and ragged gives a read's answer one
byte too few or too many.

Two kinds are not a fault of the board's alone:

  - echo: the line echoes every request before the board's answer (an RS-485 adapter), now and then
    with no board behind it at all (a loopback plug) or with another fault on top; some downloads
    use option old, where each record is a text telegram judged by its answer alone;
  - stale: consecutive vexal runs on one board whose memory holds random bytes, the board answering
    some telegrams late (up to one read window), the earlier runs reading ranges and most of them
    stopped by SIGINT midway, so answers to an earlier run's requests reach the line as the next run
    begins. An interrupted run must end by the signal with "Error: Interrupted." last and its file
    holding a whole number of chunks, each as the memory holds it; every run is judged as above, its
    read file against the memory.

Prints the outcome table by fault kind; exits 1 when any run broke the invariant. The same --seed gives
the same runs, faults and firmware: a failing run is repeated with --only N (add --keep to keep its files).

    tests/faults/campaign.py --bin build/bin                  # 1000 runs
    tests/faults/campaign.py --bin build/bin --runs 120       # CI's short campaign
"""
import argparse
import collections
import concurrent.futures
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sim import Simulator, SimError  # noqa: E402  (tests/support, beside this folder)

MEMORY_END = 0x1000000
BLOCK = 128
ERASED = 0xFF
BOARD_FAULTS = ["drop", "late", "split", "bad-end", "bad-checksum", "noise", "refuse", "twice", "ragged"]  # "mixed"
FAULT_KINDS = ["none"] + BOARD_FAULTS + ["silent", "echo", "stale", "mixed"]
LOADER_CODES = set(range(2, 10))
FAILURE_MARKS = ("Error", "Bad format", "Target didn't respond", "Wrong settings")
WINDOW_S = 0.306          # the loader's read window
ATTEMPTS = 9              # text telegrams; blocks get 8
SLOWEST_FAULT_S = 0.7     # the longest late answer or split pause drawn below
CHUNK = 64                # bytes per read telegram of @binget
STALE_MEMORY = 0x2000     # the random bytes a stale session's board holds, from STALE_BASE on
STALE_LATE_MS = [100, 200, 250, 300]   # late answers that outlive a run but not the next one's first window
INTERRUPTED = -signal.SIGINT           # subprocess's status of a process ended by SIGINT
TWICE_DELAYS_MS = [1, 3, 3, 8, 14]    # a repeat's distance behind its answer: all within 15 ms of silence


# --- what the board should end up holding ---

def s2_record(address, data):
    body = bytes([len(data) + 4]) + address.to_bytes(3, "big") + data
    return "S2" + body.hex().upper() + "%02X" % (~sum(body) & 0xFF)


def s8_record(address):
    body = bytes([4]) + address.to_bytes(3, "big")
    return "S8" + body.hex().upper() + "%02X" % (~sum(body) & 0xFF)


def random_firmware(rng):
    """S-record lines and the image they make: one or two segments, a few blocks, sometimes out of order."""
    image = {}
    records = []
    for _ in range(rng.choice([1, 1, 2])):
        size = rng.randint(1, 400)
        top = rng.random() < 0.1
        base = MEMORY_END - size - rng.randint(0, 200) if top else rng.randrange(0, MEMORY_END - size)
        base = max(base, 0)
        step = rng.choice([16, 32, 32, 64, rng.randint(1, 100)])
        data = bytes(rng.getrandbits(8) for _ in range(size))
        records += [(base + off, data[off:off + step]) for off in range(0, size, step)]
    if rng.random() < 0.2:
        rng.shuffle(records)
    for address, chunk in records:  # in sending order: a later record wins where segments overlap
        for i, b in enumerate(chunk):
            image[address + i] = b
    lines = [s2_record(a, d) for a, d in records] + [s8_record(records[0][0])]
    return lines, image


def covering_range(addresses):
    lo = min(addresses) & ~(BLOCK - 1)
    hi = min(MEMORY_END, (max(addresses) | (BLOCK - 1)) + 1)
    return lo, hi - lo


# --- the faults ---

def every_or_rate(rng):
    return "every=%d" % rng.randint(2, 6) if rng.random() < 0.5 else "rate=%.2f" % rng.uniform(0.05, 0.4)


def fault_rule(rng, kind, telegrams):
    if kind == "silent":
        return "silent:after=%d" % rng.randint(0, telegrams)
    rule = "%s:%s" % (kind, every_or_rate(rng))
    if kind == "late":
        rule += ",delay=%d" % rng.choice([150, 300, 320, 400, 700])
    if kind == "split":
        rule += ",pause=%d" % rng.choice([5, 14, 20, 40, 300])
    if kind == "noise":
        rule += ",bytes=%d" % rng.randint(2, 64)
    if kind == "twice":
        rule += ",delay=%d" % rng.choice(TWICE_DELAYS_MS)
    return rule


def echo_options(rng, telegrams):
    """An echoing line: mostly with a board behind it, sometimes none (or one that falls silent), and
    sometimes another fault of the board's on top."""
    options = ["--fault", "echo:every=1"]
    if rng.random() < 0.25:
        options += ["--fault", "silent:after=%d" % rng.randint(0, telegrams)]
    if rng.random() < 0.3:
        options += ["--fault", fault_rule(rng, rng.choice(BOARD_FAULTS), telegrams)]
    return options


def fault_options(rng, kind, telegrams):
    if kind == "none":
        return []
    if kind == "echo":
        options = echo_options(rng, telegrams)
    elif kind == "stale":
        options = ["--fault", "late:rate=%.2f,delay=%d" % (rng.uniform(0.1, 0.5), rng.choice(STALE_LATE_MS))]
    else:
        kinds = [kind] if kind != "mixed" else rng.sample(BOARD_FAULTS, rng.randint(2, 3))
        options = []
        for k in kinds:
            options += ["--fault", fault_rule(rng, k, telegrams)]
    return options + ["--seed", str(rng.randint(1, 1 << 30))]


# --- one run ---

class Read:
    """One vexal run of a stale session: @binget of memory[offset:offset + length], maybe stopped by SIGINT."""

    def __init__(self, rng, last):
        self.offset = rng.randrange(0, STALE_MEMORY - 1)
        self.length = rng.randint(1, min(1024, STALE_MEMORY - self.offset))
        self.interrupt_after_s = None if last or rng.random() < 0.25 else rng.uniform(0.02, 0.5)
        self.gap_s = rng.uniform(0, 0.05)  # before it starts, as a script running vexal again would


class Job:
    """What one run of the campaign does: one or more vexal runs against one board, and what the board and
    the files must hold after a success. A job draws its own inputs in its constructor and returns the
    telegrams it sends from telegrams()."""

    name = ""
    steps = 1

    def telegrams(self):
        raise NotImplementedError

    def loader_args(self, step):
        raise NotImplementedError

    def write_inputs(self, work):
        raise NotImplementedError

    def board_options(self, work):
        return []

    def expected_memory(self):
        raise NotImplementedError

    def expected_file(self, step):
        """The file a step reads and the bytes it must hold, or None."""
        return None

    def interrupt_after_s(self, step):
        return None

    def gap_s(self, step):
        return 0


class Download(Job):
    """Random firmware downloaded; the board's memory must equal it (0xFF where no record put data)."""

    name = "download"

    def __init__(self, rng, kind):
        self.lines, self.image = random_firmware(rng)
        self.range = covering_range(self.image.keys())
        # With option old every record is a text telegram of its own, judged only by its answer: an echo
        # taken for the answer would report a download that never reached a board.
        self.old = kind == "echo" and rng.random() < 0.4

    def telegrams(self):
        if self.old:
            return len(self.lines)
        return len({a // BLOCK for a in self.image}) + 1  # the blocks and the S8 line

    def loader_args(self, step):
        return ["old", "fw.s28"] if self.old else ["fw.s28"]

    def write_inputs(self, work):
        with open(os.path.join(work, "fw.s28"), "w") as f:
            f.write("\n".join(self.lines) + "\n")

    def expected_memory(self):
        lo, n = self.range
        return bytes(self.image.get(lo + i, ERASED) for i in range(n))


class RoundTrip(Job):
    """A random file written with @binput and read back with @binget: both must equal it."""

    name = "roundtrip"

    def __init__(self, rng, kind):
        size = rng.randint(1, 300)
        self.address = rng.randrange(0, MEMORY_END - size) if rng.random() < 0.9 else MEMORY_END - size
        self.data = bytes(rng.getrandbits(8) for _ in range(size))
        self.range = (self.address, size)

    def telegrams(self):
        return 2 * ((len(self.data) + CHUNK - 1) // CHUNK)

    def loader_args(self, step):
        a, n = self.address, len(self.data)
        return ["@binput%06X<in.bin" % a, "@binget%06X,%06X>out.bin" % (a, n)]

    def write_inputs(self, work):
        with open(os.path.join(work, "in.bin"), "wb") as f:
            f.write(self.data)

    def expected_memory(self):
        return self.data

    def expected_file(self, step):
        return "out.bin", self.data


class StaleReads(Job):
    """Consecutive @binget runs on one board holding random bytes, most of the earlier ones stopped by
    SIGINT midway (the stale kind)."""

    name = "reads"

    def __init__(self, rng, kind):
        self.memory = bytes(rng.getrandbits(8) for _ in range(STALE_MEMORY))
        self.range = (rng.randrange(0, MEMORY_END - STALE_MEMORY), STALE_MEMORY)
        count = rng.randint(2, 4)
        self.reads = [Read(rng, i == count - 1) for i in range(count)]
        self.steps = count

    def telegrams(self):
        return max((r.length + CHUNK - 1) // CHUNK for r in self.reads)

    def loader_args(self, step):
        r = self.reads[step]
        return ["@binget%06X,%06X>out%d.bin" % (self.range[0] + r.offset, r.length, step)]

    def write_inputs(self, work):
        with open(os.path.join(work, "memory.bin"), "wb") as f:
            f.write(self.memory)

    def board_options(self, work):
        return ["--load", "%s@%X" % (os.path.join(work, "memory.bin"), self.range[0])]

    def expected_memory(self):
        return self.memory

    def expected_file(self, step):
        r = self.reads[step]
        return "out%d.bin" % step, self.memory[r.offset:r.offset + r.length]

    def interrupt_after_s(self, step):
        return self.reads[step].interrupt_after_s

    def gap_s(self, step):
        return self.reads[step].gap_s


class Run:
    """One numbered run: its fault kind, its job, the simulator's fault options and its time bound."""

    def __init__(self, number, seed):
        self.number = number
        rng = random.Random(seed * 1_000_003 + number)
        self.kind = FAULT_KINDS[number % len(FAULT_KINDS)]
        self.job = self.pick_job(rng)(rng, self.kind)
        telegrams = self.job.telegrams()
        self.faults = fault_options(rng, self.kind, telegrams)
        # Each telegram may take all its attempts and a slow fault on top; the rest is start-up.
        self.bound_s = 10 + 2 * telegrams * ATTEMPTS * (WINDOW_S + SLOWEST_FAULT_S)

    def pick_job(self, rng):
        if self.kind == "stale":
            return StaleReads
        # Only reads have a length to get wrong: ragged runs are mostly round trips.
        return Download if rng.random() < (0.3 if self.kind == "ragged" else 0.7) else RoundTrip

    def describe(self):
        return "run %d: %s, %s %s" % (self.number, self.job.name, self.kind, " ".join(self.faults))


def start_sim(bin_dir, work, run):
    lo, n = run.job.range
    options = ["--dump", "%s@%X,%X" % (os.path.join(work, "dump.bin"), lo, n)]
    return Simulator(bin_dir, os.path.join(work, "com1"), options + run.job.board_options(work) + run.faults,
                     stderr_path=os.path.join(work, "sim.err"))


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def last_line(console):
    lines = [line.strip() for line in re.split(r"[\r\n]", console) if line.strip()]
    return lines[-1] if lines else ""


def judge_interrupted(run, step, console, work):
    """A run stopped by SIGINT: the line that says so last, and its file a whole number of chunks,
    each as the memory holds it."""
    if last_line(console) != "Error: Interrupted.":
        return "interrupted", "stopped by SIGINT, but the console ends with %r" % last_line(console)
    expected = run.job.expected_file(step)
    if expected:
        name, data = expected
        got = read(os.path.join(work, name)) or b""
        if len(got) % CHUNK and len(got) != len(data) or got != data[:len(got)]:
            return "WRONG READ", "stopped by SIGINT, its file is no whole-chunk prefix of the memory"
    return "interrupted", None


def judge(run, step, code, console, work):
    """The outcome's name, and a violation text or None."""
    if code is None:
        return "HANG", "no end within %.0f s" % run.bound_s
    if code == INTERRUPTED and run.job.interrupt_after_s(step) is not None:
        return judge_interrupted(run, step, console, work)
    shown = re.findall(r"Exit code +(-?\d+)", console)
    if not shown or int(shown[-1]) != code:
        return "exit %d" % code, "the console's exit code %s is not the status %d" % (shown[-1:] or "none", code)
    if code == 0:
        expected = run.job.expected_file(step)
        if expected and read(os.path.join(work, expected[0])) != expected[1]:
            return "WRONG READ", "success reported, but the file read differs from the memory"
        return "identical", None
    if code not in LOADER_CODES:
        return "exit %d" % code, "exit code %d is none of the loader's (a crash?)" % code
    if not any(mark in console for mark in FAILURE_MARKS):
        return "exit %d" % code, "exit code %d without a line saying what failed" % code
    return "exit %d" % code, None


def run_loader(bin_dir, work, run, step, link):
    env = dict(os.environ, VEXAL_COM1=link)
    # The console is standard output; standard error (progress, the outcome line, notes on the line) is
    # kept apart, so the console's last line is judged as the console has it.
    vexal = subprocess.Popen([os.path.join(bin_dir, "vexal")] + run.job.loader_args(step), cwd=work, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    interrupt_after_s = run.job.interrupt_after_s(step)
    try:
        if interrupt_after_s is not None:
            try:
                vexal.wait(interrupt_after_s)
            except subprocess.TimeoutExpired:
                vexal.send_signal(signal.SIGINT)
        out, _ = vexal.communicate(timeout=run.bound_s)
        return vexal.returncode, out.decode("latin-1")
    except subprocess.TimeoutExpired:
        vexal.kill()
        out, _ = vexal.communicate()
        return None, out.decode("latin-1")


def run_steps(run, bin_dir, work, link):
    """Every vexal run of the session in turn: the outcome of the last, or of the first that broke the
    invariant, its violation, and how many runs SIGINT stopped."""
    interrupted = 0
    for step in range(run.job.steps):
        time.sleep(run.job.gap_s(step))
        code, console = run_loader(bin_dir, work, run, step, link)
        outcome, violation = judge(run, step, code, console, work)
        interrupted += outcome == "interrupted"
        if violation:
            with open(os.path.join(work, "console.txt"), "w") as f:
                f.write(console)
            return outcome, "vexal run %d: %s" % (step + 1, violation) if run.job.steps > 1 else violation, interrupted
    return outcome, None, interrupted


def execute(run, bin_dir, keep_root):
    work = tempfile.mkdtemp(prefix="vexal-fault-%d-" % run.number, dir=keep_root)
    try:
        run.job.write_inputs(work)
        sim = start_sim(bin_dir, work, run)
        started = time.monotonic()
        try:
            outcome, violation, interrupted = run_steps(run, bin_dir, work, sim.link)
        finally:
            seconds = time.monotonic() - started
            sim.stop()
        memory = read(os.path.join(work, "dump.bin"))
        if not violation and outcome == "identical" and memory != run.job.expected_memory():
            outcome, violation = "WRONG IMAGE", "success reported, but the board's memory differs"
        return outcome, violation, seconds, work, interrupted
    except (OSError, SimError) as e:
        return "ERROR", "the run could not be carried out: %s" % e, 0.0, work, 0
    finally:
        if keep_root is None:
            shutil.rmtree(work, ignore_errors=True)


def print_table(results):
    outcomes = sorted({o for _, o, _ in results}, key=lambda o: (o != "identical", o))
    header = "%-13s %5s " % ("fault", "runs") + " ".join("%11s" % o for o in outcomes)
    print(header)
    print("-" * len(header))
    for kind in FAULT_KINDS + ["all"]:
        rows = [r for r in results if kind in ("all", r[0].kind)]
        if not rows:
            continue
        counts = collections.Counter(o for _, o, _ in rows)
        print("%-13s %5d " % (kind, len(rows)) + " ".join("%11d" % counts[o] for o in outcomes))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default="build/bin", help="folder with vexal and vq3140-sim")
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2, help="runs at once")
    parser.add_argument("--only", type=int, help="repeat only this run")
    parser.add_argument("--kind", choices=FAULT_KINDS, help="only the runs of this fault kind")
    parser.add_argument("--keep", action="store_true", help="keep the runs' folders (in a folder printed at the end)")
    args = parser.parse_args()

    args.bin = os.path.abspath(args.bin)
    for tool in ("vexal", "vq3140-sim"):
        if not os.access(os.path.join(args.bin, tool), os.X_OK):
            sys.exit("missing %s/%s" % (args.bin, tool))
    keep_root = tempfile.mkdtemp(prefix="vexal-faults-") if args.keep else None
    numbers = [args.only] if args.only is not None else range(args.runs)
    if args.kind:
        numbers = [n for n in numbers if FAULT_KINDS[n % len(FAULT_KINDS)] == args.kind]
    runs = [Run(n, args.seed) for n in numbers]

    started = time.monotonic()
    results, violations, slowest, interrupted = [], [], 0.0, 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        futures = {pool.submit(execute, run, args.bin, keep_root): run for run in runs}
        for future in concurrent.futures.as_completed(futures):
            run = futures[future]
            outcome, violation, seconds, work, stopped = future.result()
            interrupted += stopped
            results.append((run, outcome, seconds))
            slowest = max(slowest, seconds)
            if violation:
                violations.append("%s\n    %s%s" % (run.describe(), violation, "\n    kept in " + work if keep_root else ""))

    print("fault campaign: %d runs, seed %d, %d at once, %.0f s (slowest run %.1f s)"
          % (len(results), args.seed, args.jobs, time.monotonic() - started, slowest))
    print_table(results)
    stale = [r for r, _, _ in results if r.kind == "stale"]
    if stale:
        print("stale: %d sessions, %d vexal runs, %d of them stopped by SIGINT"
              % (len(stale), sum(r.job.steps for r in stale), interrupted))
    for v in violations:
        print("VIOLATION " + v)
    print("%d violation(s)" % len(violations))
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
