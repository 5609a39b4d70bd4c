#!/usr/bin/env bash
# Reads every #include "..." of the product's sources and fails on one that climbs a layer, crosses
# between front-ends, or reaches the board simulator from the loader (or the loader from the board).
#   scripts/check-layers.sh [SOURCE_ROOT]
# Layers, lowest first: protocol < console < serial < loader < frontends/<each>; board sees protocol only;
# the station sees no layer. cli (the command-line helpers, standard library alone) is below them all;
# board and the station may include it.
# The build enforces the same rule (cmake/layers.cmake); this check names the offending line.
# vexal_version.h, which the build generates from the project's version, belongs to no layer: any
# folder may include it.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# What each folder may include, besides system headers.
allowed_for() {
  case "$1" in
    cli) echo "cli" ;;
    protocol) echo "protocol" ;;
    console) echo "console protocol" ;;
    serial) echo "serial console protocol" ;;
    loader) echo "loader serial console protocol" ;;
    board) echo "board protocol cli" ;;
    frontends/station) echo "frontends/station cli" ;;  # talks to vexal through its process only
    frontends/*) echo "$1 loader serial console protocol" ;;
  esac
}

# The folder a source belongs to: frontends/<name> or its first path component.
folder_of() {
  case "$1" in
    frontends/*) echo "$1" | cut -d/ -f1-2 ;;
    *) echo "${1%%/*}" ;;
  esac
}

included_folder() {
  case "$1" in
    frontends/*) echo "$1" | cut -d/ -f1-2 ;;
    */*) echo "${1%%/*}" ;;
    *) echo "" ;;  # a bare name: only system-style headers are written so
  esac
}

violations=0
generated_header=vexal_version.h
while IFS= read -r file; do
  own=$(folder_of "$file")
  allowed=" $(allowed_for "$own") "
  while IFS=: read -r line target; do
    [[ "$target" == "$generated_header" ]] && continue
    folder=$(included_folder "$target")
    if [[ "$target" == *..* || -z "$folder" || "$allowed" != *" $folder "* ]]; then
      echo "$file:$line: includes \"$target\": $own may include only:$allowed"
      violations=$((violations + 1))
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | sed -E 's/^([0-9]+):.*include[[:space:]]*"([^"]*)".*/\1:\2/')
done < <(find cli protocol console serial loader board frontends -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "$violations" -gt 0 ]; then
  echo "check-layers: $violations include(s) break the layers"
  exit 1
fi
echo "check-layers: every include stays within its layer"
