#!/usr/bin/env bash
# Builds vexal into build/ (or the folder given), with the warnings as errors.
#   scripts/build.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${VEXAL_BUILD_TYPE:-RelWithDebInfo}" -DVEXAL_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
