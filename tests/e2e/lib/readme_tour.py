#!/usr/bin/env python3
"""Runs the README's five-minute tour as a reader would type it, and checks what it shows.

    readme_tour.py README BIN_DIR SOURCE_DIR SCRATCH

The tour's code blocks are read from the section "## A five-minute tour" up to the next section. A line
"$ COMMAND" is a command, and the lines after it, up to the next command or blank line, what it shows.
Blocks without "$ " are commands too when they start a program or set a variable ("build/bin/...",
"export ..."); any other block is a picture of the screen, not something to type.

The commands run in one shell, in order, from SOURCE_DIR: "build/bin/" (or "../build/bin/") becomes
BIN_DIR, and "/tmp/" becomes SCRATCH, so the tour runs beside other tests. A command started in the
background with "--link PATH" is waited for until PATH is there, as a reader waits for the simulator.

Every command must end with status 0 (the tour shows a failing run through "; echo $?"). Each shown line
is looked for among the lines the command printed (standard output and error
together, trailing blanks aside): the tour leaves lines out, so only what it shows must be there. Lines
with figures that change from run to run (times, rates, a trace's clock: any number with a point in it)
and "..." are not compared. Prints one line per missing line, and ends with status 1 when any was
missing.
"""
import os
import re
import subprocess
import sys

TOUR_HEADING = "## A five-minute tour"
COMMAND_MARK = "$ "
BLOCK_INDENT = "    "
TYPED_BLOCK = re.compile(r"^(build/bin/|export )")
VARYING = re.compile(r"\d\.\d|^\.\.\.$")
LINK_WAIT_SECONDS = 10
COMMAND_MARKER = "@@tour-command"
STATUS_MARKER = "@@tour-status"


def tour_blocks(readme):
    """The indented blocks of the tour's section, each a list of its lines (indent removed)."""
    section = readme.split(TOUR_HEADING, 1)[1].split("\n## ", 1)[0]
    blocks, block = [], []
    for line in section.splitlines():
        if line.startswith(BLOCK_INDENT):
            block.append(line[len(BLOCK_INDENT):].rstrip())
        elif block:
            blocks.append(block)
            block = []
    return blocks + ([block] if block else [])


def steps_of(blocks):
    """(command, shown lines) pairs in the order of the text."""
    steps = []
    for block in blocks:
        if not block[0].startswith(COMMAND_MARK):
            if TYPED_BLOCK.match(block[0]):
                steps += [(line, []) for line in block]
            continue
        for line in block:
            if line.startswith(COMMAND_MARK):
                steps.append((line[len(COMMAND_MARK):], []))
            elif line:
                steps[-1][1].append(line)
    return steps


def localised(command, bin_dir, scratch):
    command = re.sub(r"(\.\./)?build/bin/", bin_dir + "/", command)
    command = command.split("  #", 1)[0].rstrip()  # a comment beside the command
    return command.replace("/tmp/", scratch + "/")


def wait_for_link(command):
    """A background command naming --link PATH: the shell lines that wait until PATH is there."""
    match = re.search(r"--link (\S+)", command)
    if not command.endswith("&") or not match:
        return ""
    tenths = LINK_WAIT_SECONDS * 10
    return f'for _ in $(seq {tenths}); do [ -e {match.group(1)} ] && break; sleep 0.1; done\n'


def shell_script(steps, bin_dir, scratch):
    lines = ["exec 2>&1\n"]
    for number, (command, _) in enumerate(steps):
        command = localised(command, bin_dir, scratch)
        lines.append(f"echo {COMMAND_MARKER} {number}\n{command}\necho {STATUS_MARKER} $?\n"
                     f"{wait_for_link(command)}")
    lines.append("wait\n")
    return "".join(lines)


def outputs_by_step(output, count):
    """What each command printed, and its status (None when the shell never got past it)."""
    printed = [[] for _ in range(count)]
    statuses = [None] * count
    step = None
    for line in output.splitlines():
        if line.startswith(COMMAND_MARKER):
            step = int(line.split()[1])
        elif line.startswith(STATUS_MARKER) and step is not None:
            statuses[step] = int(line.split()[1])
        elif step is not None:
            printed[step].append(line.rstrip())
    return printed, statuses


def failed_commands(steps, statuses):
    for (command, _), status in zip(steps, statuses):
        if status != 0:
            yield command, status


def missing_lines(steps, printed):
    for (command, shown), lines in zip(steps, printed):
        for line in shown:
            if not VARYING.search(line) and line not in lines:
                yield command, line, lines


def main():
    readme_path, bin_dir, source_dir, scratch = sys.argv[1:5]
    with open(readme_path, encoding="utf-8") as f:
        steps = steps_of(tour_blocks(f.read()))
    script = shell_script(steps, os.path.abspath(bin_dir), os.path.abspath(scratch))
    run = subprocess.run(["bash", "-c", script], cwd=source_dir, capture_output=True, text=True,
                         timeout=300)
    printed, statuses = outputs_by_step(run.stdout, len(steps))
    failures = 0
    for command, status in failed_commands(steps, statuses):
        failures += 1
        print(f"FAIL: '{command}' ended with status {status}")
    for command, line, lines in missing_lines(steps, printed):
        failures += 1
        print(f"FAIL: '{command}' did not show '{line}'; it printed:")
        print("\n".join("  | " + text for text in lines))
    print(f"{len(steps)} commands of the tour run, {failures} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
