#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds, starts the board simulator and
# downloads the example firmware into it, then compares the board's memory with the firmware.
# With a display the window (vexalw) runs the job — dismiss its end box to finish; without one, the
# terminal front-end (vexal) does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
front=vexal
if [ -n "${DISPLAY:-}" ] && [ -x build/bin/vexalw ] && command -v xdpyinfo >/dev/null && xdpyinfo >/dev/null 2>&1; then
  front=vexalw
fi
echo "== The example job (examples/download.txt) with $front against vq3140-sim"
VEXAL_FRONTEND=$front examples/main-job.sh build/bin "$@"
