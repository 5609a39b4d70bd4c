#!/usr/bin/env bash
# Every test: installs what is missing, builds (normal, then AddressSanitizer + UndefinedBehaviorSanitizer,
# the Win32 cross build, the fuzz targets, ThreadSanitizer), runs the unit, integration, end-to-end and
# window tests, and the acceptance cases beside the project.
#
# After the Release build and its tests, the other builds run one after another in a background lane at
# the lowest priority (scripts/lib/lane.sh), in the order the later phases need them, while the
# foreground runs the package, fault and wine tests that mostly wait on lines and simulators: the two
# kinds of work share the processors instead of taking turns. Each phase that needs a build waits for it
# and prints its output then.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/jobs.sh
source scripts/lib/checks.sh
source scripts/lib/phases.sh
source scripts/lib/lane.sh
phase "Installing what is missing (build, tests, Win32, fuzzing: one installation)"
scripts/install-deps.sh --win32 --fuzz

phase "Layers: no include climbs a layer"
scripts/check-layers.sh
phase "Format: the C++ files as .clang-format lays them out"
scripts/check-format.sh
phase "Docs: every link and image of the README and docs/ leads to a file and heading"
scripts/check-docs.sh
# One Release build, with the Debian package's hardening flags, serves the tests, the package, the fault
# campaign, the acceptance cases and the Win32 tests' simulator: the same programs are tested and
# packaged, and nothing is compiled twice.
phase "Build (warnings are errors, hardened as the package is)"
VEXAL_BUILD_TYPE=Release scripts/build.sh build -DVEXAL_HARDENING=ON

# The background lane: each build only what its tests below run.
later_builds() {
  lane_step win32 scripts/win32-build.sh build-mingw
  # The test programs and the programs they start (vexal_tests).
  lane_step asan scripts/build.sh build-asan -DVEXAL_SANITIZE=ON -DVEXAL_WINDOW=OFF -DCMAKE_BUILD_TYPE=Debug \
    --target vexal_tests
  lane_step fuzz scripts/fuzz.sh build
  lane_step tsan env VEXAL_BUILD_TYPE=RelWithDebInfo scripts/build.sh build-tsan -DVEXAL_TSAN=ON \
    --target test_console test_window_parts vexalw vq3140-sim vexal-station
}

phase "Tests"
(cd build && ctest --output-on-failure -j"$VEXAL_JOBS" --timeout 600)
# Not beside the main test run: its end-to-end scripts on paced pseudo-terminals are the most sensitive to
# what else the machine does, and one of them (the full window on a line that repeats every answer)
# failed once with the lane beside it.
lane_start later_builds
trap lane_stop EXIT
phase "Debian package (from build/): contents, dependencies, programs run from a scratch root, lintian"
scripts/package.sh build
phase "Fault campaign, short: downloads and memory round trips through a board with random faults"
tests/faults/campaign.py --bin build/bin --runs 100
phase "Acceptance cases (independent; a failed case fails)"
acceptance_report acceptance build/bin/vexal strict

phase "Win32 tests under wine (the Win32 build from the background lane)"
lane_await win32
VEXAL_LINUX_BUILD=build scripts/win32-test.sh

phase "Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
lane_await asan
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$VEXAL_JOBS" --timeout 600 -L 'unit|integration')

# --- Bad input and faults: fuzzing, the threads under ThreadSanitizer ----------------------------------
phase "Fuzzing: each target 10 s on the committed seeds (clang, ASan + UBSan; a finding fails)"
lane_await fuzz
FUZZ_SHORT_SECONDS=10 FUZZ_JOBS=2 scripts/fuzz.sh short
phase "Console and window tests under ThreadSanitizer"
lane_await tsan
tsan_reports=$(mktemp -d)
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 log_path=$tsan_reports/report" \
  ctest --output-on-failure --timeout 600 -L 'unit|gui' -E '_NOT_BUILT$')
if [ -n "$(ls -A "$tsan_reports")" ]; then
  cat "$tsan_reports"/*
  echo "ThreadSanitizer reported a race"
  exit 1
fi
rm -rf "$tsan_reports"
# --- end of bad input and faults -----------------------------------------------------------------------

phases_end
echo "== All tests passed"
