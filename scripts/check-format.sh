#!/usr/bin/env bash
# Fails when a tracked C++ file is not laid out as .clang-format says; prints what differs.
#   scripts/check-format.sh          check (CI runs this)
#   scripts/check-format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "check-format: the files above are not formatted; scripts/check-format.sh --fix lays them out"
  exit 1
fi
