#!/usr/bin/env bash
# Builds vexal into build/ (or the folder given), with the warnings as errors.
#   scripts/build.sh [BUILD_DIR] [extra cmake options...] [--target TARGET...]
# Everything after --target names the targets to build (default: all). VEXAL_BUILD_TYPE is the build
# type (default RelWithDebInfo), VEXAL_JOBS the build's parallel jobs (default: the processors).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/jobs.sh
dir=${1:-build}
shift || true
options=()
targets=()
while [[ $# -gt 0 && $1 != --target ]]; do
  options+=("$1")
  shift
done
[[ $# -gt 0 ]] && shift && targets=(--target "$@")
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${VEXAL_BUILD_TYPE:-RelWithDebInfo}" -DVEXAL_WERROR=ON "${options[@]}" \
  >/dev/null
cmake --build "$dir" -j"$VEXAL_JOBS" "${targets[@]}"
