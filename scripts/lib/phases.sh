# The phases of a long script, timed: sourced by bash.
#
#   phase TEXT     ends the phase before (if any) and starts one: prints "== TEXT"
#   phases_end     ends the last phase and prints every phase's wall time, so a slow CI shows where its
#                  minutes went
PHASE_NAMES=()
PHASE_SECONDS=()
PHASE_STARTED=

phase_close() {
  [[ -n $PHASE_STARTED ]] || return 0
  PHASE_SECONDS+=($((SECONDS - PHASE_STARTED)))
  PHASE_STARTED=
}

phase() {
  phase_close
  PHASE_NAMES+=("$1")
  PHASE_STARTED=$SECONDS
  echo "== $1"
}

phases_end() {
  phase_close
  local i total=0
  echo "== Wall time of each phase"
  for i in "${!PHASE_NAMES[@]}"; do
    printf '%6d s  %s\n' "${PHASE_SECONDS[$i]}" "${PHASE_NAMES[$i]}"
    total=$((total + PHASE_SECONDS[i]))
  done
  printf '%6d s  in all\n' "$total"
}
