#!/usr/bin/env bash
# The Win32 build and every test of it under wine; exits non-zero on the first failure.
#   scripts/win32-test.sh
# 1. installs what is missing (scripts/install-deps.sh --win32);
# 2. cross-builds vexal.exe, vexalc.exe and the unit tests into build-mingw (scripts/win32-build.sh),
#    and the simulator and the Linux vexal into VEXAL_LINUX_BUILD (default build-lin-check);
# 3. runs the unit tests under wine (ctest, wine as the cross-compiling emulator);
# 4. runs the wine end-to-end tests against the simulator: tests/win32/console.sh (the port back-end
#    through vexalc.exe), tests/win32/early_end.sh (the early end against the full window, with
#    throughput figures) and tests/win32/window.sh (vexal.exe under Xvfb, an ELF file's @load among them);
# 5. reports the acceptance cases beside the project run on vexalc.exe (not a failure: the hex dump
#    is a text file there, so its lines end in CR LF).
# The wine prefix is cached in VEXAL_WINE_CACHE (default ~/.cache/vexal-wine).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/jobs.sh
source scripts/lib/checks.sh
mingw=build-mingw
linux=${VEXAL_LINUX_BUILD:-build-lin-check}

# Unit tests whose expectations are the POSIX platform's own, not the loader's:
# - a hex dump and the trace are written in text mode, so their lines end in CR LF on Win32;
# - a folder can be opened as a file on POSIX (its read fails), not on Win32 (its open fails).
posix_only='MemcmdReads.HexgetWritesOneLinePerTelegram|MemcmdAnswers.FormAndPairRules'
posix_only+='|MemcmdCommandFile.NameEndsBeforeTheLineFeed|Files.OpenAndReadFailures|MemcmdFiles.FailuresEndWith3'
posix_only+='|TraceFile.AppendsAndEveryLineIsThereAtOnce'

scripts/install-deps.sh --win32

echo "== Win32 build (warnings are errors)"
scripts/win32-build.sh "$mingw"
echo "== Simulator and Linux vexal ($linux)"
[ -f "$linux/CMakeCache.txt" ] || cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXAL_WERROR=ON >/dev/null
cmake --build "$linux" -j"$VEXAL_JOBS" --target vq3140-sim vexal

source scripts/win32-env.sh
win32_prefix
trap win32_stop EXIT
win32_start

echo "== Unit tests under wine (left out, as the POSIX platform's own: ${posix_only//|/ })"
(cd "$mingw" && ctest --output-on-failure -j"$VEXAL_JOBS" --timeout 300 -E "^($posix_only)\$")

echo "== Port back-end under wine (vexalc.exe against the simulator)"
bash tests/win32/console.sh "$mingw/bin" "$linux/bin/vq3140-sim" "$linux/bin/vexal"
echo "== Early end under wine (a download through vexalc.exe, early end against the full window)"
bash tests/win32/early_end.sh "$mingw/bin" "$linux/bin/vq3140-sim" "$linux/bin/vexal"
echo "== Window under wine and Xvfb (vexal.exe against the simulator)"
bash tests/win32/window.sh "$mingw/bin" "$linux/bin/vq3140-sim"

echo "== Acceptance cases on the Win32 build (reported)"
acceptance_report "acceptance on Win32" scripts/win32-vexalc.sh
echo "== All Win32 tests passed"
