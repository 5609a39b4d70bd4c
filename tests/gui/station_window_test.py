#!/usr/bin/env python3
"""vexal-station --window on a virtual X display, with the station's fake vexal for boards.

    station_window_test.py BIN_DIR SOURCE_DIR SCENARIO [--keep DIR]

Scenarios:
  tiles   16 boards: 12 pass, 1 fails, 3 keep loading. Each tile's texts (read through the window's
          dump of its widgets' labels) and colour (a pixel of the screenshot inside the tile, clear of
          its texts) are those of its board; the header counts them. Made smaller, the window keeps 16
          tiles and their text shrinks with them. The first close stops the station starting jobs
          (the loading boards go on), the second interrupts them; the station ends with status 1 and
          the window goes.
  watch   --watch in a scratch device folder: a tile appears with each port that appears, turns
          green when its job passed, and goes when its port goes; the close ends the station (no job
          runs) with status 0.

A missing tool skips the test (exit status 77). --keep DIR keeps the screenshots.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_test as wt  # noqa: E402  the display, screenshots and window helpers

wt.SCREEN_W, wt.SCREEN_H = 1920, 1080
check, Failure, Skip = wt.check, wt.Failure, wt.Skip

TITLE = "vexal-station"
APPEARS = 60.0   # a loaded machine starts 16 Python fakes slowly
ENDS = 60.0
SMALL = (800, 500)
RUNNING = ("b03", "b08", "b14")
FAILING = "b11"


def green(p):
    r, g, b = p
    return g > 120 and g > r + 60 and g > b + 60


def red(p):
    r, g, b = p
    return r > 160 and g < 60 and b < 60


def blue(p):
    r, g, b = p
    return b > 90 and b > r + 40 and b > g + 20


def grey(p):
    return max(p) - min(p) < 8 and 150 < p[0] < 210


class Station:
    """vexal-station --window with the fake vexal; the window's dump read as header and tiles."""

    def __init__(self, bin_dir, source, work, env, args):
        self.dump = os.path.join(work, "dump.txt")
        self.log = os.path.join(work, "station.log")
        self.env = dict(env, VEXAL_STATION_WINDOW_DUMP=self.dump)
        fake = os.path.join(source, "tests", "station", "fake_vexal.py")
        with open(self.log, "w") as log:
            self.proc = subprocess.Popen([os.path.join(bin_dir, "vexal-station"), "--window", "--vexal", fake] + args,
                                         cwd=work, env=self.env, stdout=log, stderr=subprocess.STDOUT)
        self.window = wt.wait_for("the station's window", APPEARS, self.alive_window)

    def alive_window(self):
        if self.proc.poll() is not None:
            raise Failure("vexal-station ended early with status %d: %s" % (self.proc.returncode, self.log_text()))
        return wt.find_window(self.env, TITLE)

    def log_text(self):
        with open(self.log) as log:
            return log.read()

    def shown(self):
        """(header, [(x, y, w, h, [texts])]) as the window last drew them."""
        try:
            with open(self.dump) as dump:
                lines = dump.read().splitlines()
        except FileNotFoundError:
            return "", []
        header, tiles = "", []
        for line in lines:
            kind, _, rest = line.partition("\t")
            if kind == "header":
                header = rest
            else:
                place, _, texts = rest.partition("\t")
                tiles.append(tuple(int(v) for v in place.split()) + (texts.split("|"),))
        return header, tiles

    def wait_shown(self, what, test):
        try:
            return wt.wait_for(what, APPEARS, lambda: (lambda s: s if test(*s) else None)(self.shown()))
        except Failure as failure:
            header, tiles = self.shown()
            raise Failure("%s; the window shows: %s %s" % (failure, header, [t[4] for t in tiles]))

    def close(self):
        wt.close_window(self.env["DISPLAY"], self.window)

    def wait_end(self):
        try:
            return self.proc.wait(timeout=ENDS)
        except subprocess.TimeoutExpired:
            raise Failure("vexal-station did not end within %.0f s" % ENDS)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def tile_pixel(image, origin, tile):
    """A pixel inside the tile clear of its texts: its lower left corner, inside the margin."""
    x, y, w, h = tile[:4]
    return image.pixel(origin[0] + x + 3, origin[1] + y + h - 3)


def white_pixels(image, origin, tile):
    x, y, w, h = tile[:4]
    return image.count((x, y, w, h), origin, wt.white)


def by_name(tiles):
    return {tile[4][0]: tile for tile in tiles}


def expected_texts(name):
    if name in RUNNING:
        return lambda texts: len(texts) == 3 and texts[1] == "loading firmware.s28" and texts[2].endswith(" %")
    if name == FAILING:
        return lambda texts: texts[1:] == ["FAIL", "exit 5: Error: No response."]
    return lambda texts: texts[1:] == ["PASS"]


def colour_test(name):
    return blue if name in RUNNING else red if name == FAILING else green


def check_tiles(station, screen, shot_name):
    header, tiles = station.shown()
    image = screen.shot()
    screen.keep(image, shot_name)
    origin = wt.window_origin(station.env, station.window)
    check(len(tiles) == 16, "%s: 16 tiles" % shot_name)
    for name, tile in sorted(by_name(tiles).items()):
        pixel = tile_pixel(image, origin, tile)
        if not expected_texts(name)(tile[4]) or not colour_test(name)(pixel):
            raise Failure("%s: tile %s shows %s on %s" % (shot_name, name, tile[4], pixel))
    check(True, "%s: every tile's texts and colour are its board's" % shot_name)
    check("12 passed   1 failed   3 running" in header, "%s: the header counts them: %s" % (shot_name, header))
    return image, origin, tiles


def scenario_tiles(bin_dir, source, work, env, screen):
    ports = []
    for i in range(1, 17):
        name = "b%02d" % i
        settings = {"bytes": "8192"}
        if name in RUNNING:
            total = 4 << 20  # minutes to go at 1 KiB a step: they load until interrupted
            settings = {"bytes": str(total), "start": str(total * (20 + 4 * i) // 100), "step": "0.5"}
        if name == FAILING:
            settings["code"], settings["error"] = "5", "Error: No response."
        with open(os.path.join(work, name), "w") as board:
            board.write("".join("%s=%s\n" % item for item in settings.items()))
        ports.append(os.path.join(work, name))
    station = Station(bin_dir, source, work, env, ["--ports", ",".join(ports), "--", "fw.s28"])
    try:
        station.wait_shown("12 passed, 1 failed, 3 loading",
                           lambda header, tiles: "12 passed   1 failed   3 running" in header and
                           all(len(t[4]) == 3 for t in tiles if t[4][0] in RUNNING))
        big_image, origin, big = check_tiles(station, screen, "station-large")
        subprocess.run(["xdotool", "windowsize", station.window, str(SMALL[0]), str(SMALL[1])], env=station.env,
                       check=True)
        station.wait_shown("the tiles in the smaller window",
                           lambda header, tiles: tiles and max(t[0] + t[2] for t in tiles) <= SMALL[0])
        small_image, origin, small = check_tiles(station, screen, "station-small")
        first_big, first_small = by_name(big)["b01"], by_name(small)["b01"]
        check(first_small[2] * first_small[3] * 2 < first_big[2] * first_big[3], "the tiles shrank with the window")
        ratio = white_pixels(big_image, origin, first_big) / max(1, white_pixels(small_image, origin, first_small))
        check(ratio > 1.5, "the PASS text shrank with its tile (%.1f times the white pixels before)" % ratio)

        station.close()
        station.wait_shown("the header saying the station stops", lambda header, tiles: "stopping" in header)
        wt.wait_for("the stop in the log", ENDS, lambda: "stopping; waiting for 3 running jobs" in station.log_text())
        check(station.proc.poll() is None, "the first close leaves the loading boards running")
        station.close()
        status = station.wait_end()
        check(status == 1, "the second close interrupts them: the station ends with status 1 (got %d)" % status)
        check("interrupting 3 running jobs" in station.log_text(), "the log says the running jobs were interrupted")
        check(wt.find_window(station.env, TITLE) is None, "the window has gone")
    finally:
        station.kill()


def scenario_watch(bin_dir, source, work, env, screen):
    by_id = os.path.join(work, "dev", "serial", "by-id")
    os.makedirs(by_id)
    env = dict(env, VEXAL_DEV_ROOT=os.path.join(work, "dev"))

    def plug(name):
        board = os.path.join(work, name)
        with open(board, "w") as board_file:
            board_file.write("bytes=4096\n")
        os.symlink(board, os.path.join(by_id, "usb-Maker_" + name))

    def unplug(name):
        os.unlink(os.path.join(by_id, "usb-Maker_" + name))

    def passed_tiles(count):
        return lambda header, tiles: len(tiles) == count and all(t[4][1:] == ["PASS"] for t in tiles)

    station = Station(bin_dir, source, work, env, ["--watch", "--match", "usb-Maker_*", "--", "fw.s28"])
    try:
        station.wait_shown("the empty window", lambda header, tiles: header and not tiles)
        check(True, "no port: no tile")
        for step, (change, name, count) in enumerate([(plug, "A", 1), (plug, "B", 2), (unplug, "A", 1),
                                                       (plug, "C", 2)]):
            change(name)
            _, tiles = station.wait_shown("%d passed tiles" % count, passed_tiles(count))
            image = screen.shot()
            screen.keep(image, "watch-%d" % step)
            origin = wt.window_origin(station.env, station.window)
            names = sorted(t[4][0] for t in tiles)
            check(all(green(tile_pixel(image, origin, t)) for t in tiles),
                  "%s %s: %d green tiles %s" % (change.__name__, name, count, names))
        check("usb-Maker_A" not in names, "the tile of the port that went has gone")
        station.close()
        status = station.wait_end()
        check(status == 0, "a close with no job running ends the station with status 0 (got %d)" % status)
    finally:
        station.kill()


SCENARIOS = {"tiles": scenario_tiles, "watch": scenario_watch}
TOOLS = ["Xvfb", "xdotool", "import", "convert"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_dir")
    parser.add_argument("source_dir")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--keep", help="directory to keep the screenshots in")
    args = parser.parse_args()
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print("SKIP: not installed: " + ", ".join(missing))
        return wt.SKIP
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
    display = wt.VirtualDisplay()
    try:
        with tempfile.TemporaryDirectory(prefix="vexal-station-window-") as work:
            env = dict(os.environ, DISPLAY=display.name)
            SCENARIOS[args.scenario](os.path.abspath(args.bin_dir), os.path.abspath(args.source_dir), work, env,
                                     wt.Screen(env, args.keep))
    except Skip as skip:
        print("SKIP:", skip)
        return wt.SKIP
    except Failure as failure:
        print("FAIL:", failure)
        return 1
    finally:
        display.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
