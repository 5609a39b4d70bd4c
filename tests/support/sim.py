"""vq3140-sim for the Python tests and tools: the one way they start it and wait for its link.

    from sim import Simulator, SimError
    board = Simulator(bin_dir, link, ["--dump", "memory.bin@0,100"], cwd=work, stderr_path=err)
    ...
    board.stop()          # SIGTERM: the simulator writes its dump and log, removes its link, ends

The simulator makes its link only once its line is ready, so a link that exists is a board that
answers. A simulator that does not come up within START_LIMIT_S (it ended, or it is stuck) is killed
and SimError says so, with what it wrote on standard error when that went to a file.
"""
import os
import signal
import subprocess
import time

START_LIMIT_S = 10
STOP_LIMIT_S = 10
POLL_S = 0.005


class SimError(RuntimeError):
    pass


def _text_of(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return ""


class Simulator:
    """One vq3140-sim serving a pseudo-terminal that `link` points to (an older link is removed first)."""

    def __init__(self, bin_dir, link, options=(), cwd=None, stderr_path=None):
        self.link = link
        if os.path.lexists(link):
            os.remove(link)
        program = os.path.join(bin_dir, "vq3140-sim")
        err = open(stderr_path, "w") if stderr_path else subprocess.DEVNULL
        try:
            self.proc = subprocess.Popen([program, "--link", link] + list(options), cwd=cwd,
                                         stdout=subprocess.DEVNULL, stderr=err)
        finally:
            if stderr_path:
                err.close()
        deadline = time.monotonic() + START_LIMIT_S
        while not os.path.exists(link):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.kill()
                said = _text_of(stderr_path) if stderr_path else ""
                raise SimError("vq3140-sim did not come up" + (": " + said if said else ""))
            time.sleep(POLL_S)

    def stop(self):
        """Ends the simulator by SIGTERM and waits for it; returns its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(STOP_LIMIT_S)
            except subprocess.TimeoutExpired:
                self.kill()
                raise SimError("vq3140-sim did not stop")
        return self.proc.returncode

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
