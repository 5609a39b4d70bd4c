#!/usr/bin/env bash
# Draws vexalw's icon: a board with a chip, a download arrow onto it, on a rounded tile. Writes the
# scalable icon (SVG) given as the first argument; run it again after changing the drawing below.
#   packaging/make-icon.sh packaging/vexalw.svg
set -euo pipefail
out=${1:?usage: make-icon.sh OUT.svg}
size=64
pins() {  # eight pins on each long side of the chip
  local i x
  for i in 0 1 2 3; do
    x=$((22 + i * 6))
    printf '  <rect x="%d" y="35" width="2" height="4" fill="#c8c8c8"/>\n' "$x"
    printf '  <rect x="%d" y="53" width="2" height="4" fill="#c8c8c8"/>\n' "$x"
  done
}
{
  printf '<?xml version="1.0" encoding="UTF-8"?>\n'
  printf '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n' $size $size $size $size
  printf '  <rect x="2" y="2" width="60" height="60" rx="10" fill="#1f4e79"/>\n'
  printf '  <rect x="10" y="32" width="44" height="26" rx="3" fill="#2e8b3e"/>\n'
  printf '  <rect x="20" y="39" width="24" height="14" rx="1" fill="#222222"/>\n'
  pins
  printf '  <rect x="28" y="8" width="8" height="14" fill="#ffffff"/>\n'
  printf '  <polygon points="20,20 44,20 32,31" fill="#ffffff"/>\n'
  printf '</svg>\n'
} >"$out"
