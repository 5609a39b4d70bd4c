#!/usr/bin/env bash
# The README's five-minute tour, run as written against the simulator: every command of it runs, and
# every line it shows (figures that vary aside) is among what the command prints. A README whose tour
# no longer works fails here (tests/e2e/lib/readme_tour.py says how the text is read).
#
#   readme_tour.sh BIN_DIR SOURCE_DIR
set -u
BIN=$(cd "$1" && pwd) || exit 1
SOURCE=$(cd "$2" && pwd) || exit 1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
python3 "$SOURCE/tests/e2e/lib/readme_tour.py" "$SOURCE/README.md" "$BIN" "$SOURCE" "$scratch"
