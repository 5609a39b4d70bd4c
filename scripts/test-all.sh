#!/usr/bin/env bash
# Every test: installs what is missing, builds (normal, then AddressSanitizer + UndefinedBehaviorSanitizer),
# runs the unit, integration, end-to-end and window tests, and the acceptance cases beside the project.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/jobs.sh
source scripts/lib/checks.sh
source scripts/lib/phases.sh
phase "Installing what is missing"
scripts/install-deps.sh

phase "Layers: no include climbs a layer"
scripts/check-layers.sh
phase "Format: the C++ files as .clang-format lays them out"
scripts/check-format.sh
phase "Docs: every link and image of the README and docs/ leads to a file and heading"
scripts/check-docs.sh
# One Release build, with the Debian package's hardening flags, serves the tests, the package and the Win32
# tests' simulator: the same programs are tested and packaged, and nothing is compiled twice.
phase "Build (warnings are errors, hardened as the package is)"
VEXAL_BUILD_TYPE=Release scripts/build.sh build -DVEXAL_HARDENING=ON
phase "Tests"
(cd build && ctest --output-on-failure -j"$VEXAL_JOBS" --timeout 600)
phase "Debian package (from build/): contents, dependencies, programs run from a scratch root, lintian"
scripts/package.sh build

# Only what the tests below run: the test programs and the programs they start (vexal_tests).
phase "Build with AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DVEXAL_SANITIZE=ON -DVEXAL_WINDOW=OFF -DCMAKE_BUILD_TYPE=Debug --target vexal_tests
phase "Tests under the sanitizers"
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$VEXAL_JOBS" --timeout 600 -L 'unit|integration')

phase "Win32 build and its tests under wine"
VEXAL_LINUX_BUILD=build scripts/win32-test.sh

# --- Bad input and faults: fuzzing, a short fault campaign, the threads under ThreadSanitizer ----------
phase "Fuzzing: each target 10 s on the committed seeds (clang, ASan + UBSan; a finding fails)"
scripts/install-deps.sh --fuzz
FUZZ_SHORT_SECONDS=10 FUZZ_JOBS=2 scripts/fuzz.sh short
phase "Fault campaign, short: downloads and memory round trips through a board with random faults"
tests/faults/campaign.py --bin build/bin --runs 100
phase "Console and window tests under ThreadSanitizer"
VEXAL_BUILD_TYPE=RelWithDebInfo scripts/build.sh build-tsan -DVEXAL_TSAN=ON \
  --target test_console test_window_parts vexalw vq3140-sim vexal-station
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

phase "Acceptance cases (independent; a failed case fails)"
acceptance_report acceptance build/bin/vexal strict
phases_end
echo "== All tests passed"
