#!/usr/bin/env bash
# The Win32 console build (vexalc.exe) under wine, called like the Linux terminal program:
# COM1 and COM2 are the paths in VEXAL_COM1 and VEXAL_COM2 (unset: ports that can't be opened), the
# arguments, the working folder, standard output and standard error pass through, and the status is
# the run's exit code. So the acceptance cases run the Win32 build:
#   ../shared/acceptance/run scripts/win32-vexalc.sh
# VEXALC_EXE names another build of it (default build-mingw/bin/vexalc.exe beside this script).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/win32-env.sh"
exe=${VEXALC_EXE:-$here/../build-mingw/bin/vexalc.exe}
[ -f "$exe" ] || { echo "vexalc.exe not found: $exe (scripts/win32-build.sh)" >&2; exit 125; }

win32_prefix || exit 125
win32_lock  # COM1 is one link for every run on this prefix
win32_start || exit 125
win32_point_com1 "${VEXAL_COM1:-$VEXAL_WINE_CACHE/no-com1}" "${VEXAL_COM2:-}"
"$WINE" "$exe" "$@" 9>&-
