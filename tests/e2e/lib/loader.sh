# Running vexal in the end-to-end scripts: sourced after lib/board.sh.
#
#   run_vexal ARGS...    runs vexal in $WORK against the board on $WORK/com1 (or the device PORT names)
#                        for at most RUN_TIMEOUT seconds (default 120): its console log in vexal.log, its
#                        standard error in vexal.err, its status in STATUS, its whole seconds in TOOK
#   run_loader CODE ARGS...
#                        run_vexal; passes when the status is CODE and the log ends in "Exit code CODE"
#   fail, finish_checks  from scripts/lib/checks.sh

source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/checks.sh"

run_vexal() {
  local start=$SECONDS
  (cd "$WORK" && VEXAL_COM1=${PORT:-$WORK/com1} timeout "${RUN_TIMEOUT:-120}" "$BIN/vexal" "$@" \
    >"$WORK/vexal.log" 2>"$WORK/vexal.err")
  STATUS=$?
  TOOK=$((SECONDS - start))
}

run_loader() {
  local want=$1
  shift
  run_vexal "$@"
  if [ "$STATUS" != "$want" ]; then
    fail "vexal $* exited with $STATUS, expected $want"
    cat "$WORK/vexal.log" "$WORK/vexal.err"
    return 1
  fi
  local last
  last=$(grep -v '^ *$' "$WORK/vexal.log" | tail -n 1)
  if ! [[ "$last" =~ ^Exit\ code\ +$want\ *$ ]]; then
    fail "vexal $* ended its log with '$last'"
    return 1
  fi
  return 0
}
