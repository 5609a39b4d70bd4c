#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer) and runs them.
#
#   scripts/fuzz.sh short                 CI: each target for a few seconds on the committed seeds
#   scripts/fuzz.sh long SECONDS [T...]   each target (or the ones named) for SECONDS, growing its own
#                                         corpus in BUILD/corpus/<target> from the committed seeds
#   scripts/fuzz.sh runs N [T...]         each target for N executions, likewise
#   scripts/fuzz.sh build                 only builds the targets (CI builds them ahead of their run)
#
# Environment: FUZZ_BUILD (default build-fuzz), FUZZ_JOBS (targets run at once, default 1),
# FUZZ_SHORT_SECONDS (default 15). Prints one line per target (executions, rate, corpus, findings) and
# fails when any target found something: a crash, a leak, a sanitizer report, an invariant violated or
# an input that ran past the time-out. The inputs are kept in BUILD/findings/<target>/, the logs in
# BUILD/logs/<target>-<mode>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/jobs.sh

TARGETS=(mprintf console binwrite cmdfile prikaz telegram firmware telnet)
BUILD=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")  # absolute: some targets change their folder
SEEDS=$PWD/fuzz/corpus
JOBS=${FUZZ_JOBS:-1}
INPUT_TIMEOUT=10   # seconds for one input: every target's runs are bounded far below this
MAX_LEN=4096

usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

mode=${1:-}
case $mode in
  short) limit=(-max_total_time="${FUZZ_SHORT_SECONDS:-15}"); shift ;;
  long) [[ ${2:-} =~ ^[0-9]+$ ]] || usage; limit=(-max_total_time="$2"); shift 2 ;;
  runs) [[ ${2:-} =~ ^[0-9]+$ ]] || usage; limit=(-runs="$2"); shift 2 ;;
  build) shift ;;
  *) usage ;;
esac
[[ $# -gt 0 ]] && TARGETS=("$@")

CXX=${FUZZ_CXX:-clang++-14}
command -v "$CXX" >/dev/null || { echo "$CXX is needed: scripts/install-deps.sh --fuzz"; exit 1; }
cmake -S fuzz -B "$BUILD" -DCMAKE_CXX_COMPILER="$CXX" >/dev/null
cmake --build "$BUILD" -j"$VEXAL_JOBS" >/dev/null
[[ $mode == build ]] && exit 0

# run_target NAME: one target against its corpus.
run_target() {
  local t=$1 corpus
  local findings=$BUILD/findings/$t log=$BUILD/logs/$t-$mode.log
  mkdir -p "$findings" "$BUILD/logs"
  if [[ $mode == short ]]; then
    # A scratch copy: CI must not grow, or depend on, anything but the committed seeds.
    corpus=$(mktemp -d)
    cp "$SEEDS/$t"/* "$corpus"/
  else
    corpus=$BUILD/corpus/$t
    mkdir -p "$corpus"
  fi
  local status=0
  "$BUILD/bin/fuzz_$t" "${limit[@]}" -timeout=$INPUT_TIMEOUT -max_len=$MAX_LEN -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$SEEDS/$t" >"$log" 2>&1 || status=$?
  [[ $mode == short ]] && rm -rf "$corpus"
  local execs rate size
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  size=$(grep -ao 'corp: [0-9]*/[0-9a-zA-Z]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-10s %12s executions %8s/s  corpus %-12s %s\n' "$t" "${execs:-?}" "${rate:-?}" "${size:-?}" \
    "$([[ $status -eq 0 ]] && echo 'no finding' || echo "FINDING (exit $status), see $log and $findings/")"
  return "$status"
}

failed=0
running=0
pids=()
for t in "${TARGETS[@]}"; do
  [[ -x $BUILD/bin/fuzz_$t ]] || { echo "no fuzz target '$t'"; exit 2; }
  run_target "$t" &
  pids+=($!)
  running=$((running + 1))
  if [[ $running -ge $JOBS ]]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed
