# Running vexal in the end-to-end scripts that judge a run by its status and console log: sourced after
# lib/board.sh.
#
#   fail TEXT...         reports a failed check and marks the script failed (FAILED=1)
#   run_loader CODE ARGS...
#                        runs vexal in $WORK against the board on $WORK/com1, its console log in
#                        vexal.log and its standard error in vexal.err; passes when the status is CODE
#                        and the log ends in "Exit code CODE"

FAILED=0

fail() {
  echo "FAIL: $*"
  FAILED=1
}

run_loader() {
  local want=$1
  shift
  (cd "$WORK" && VEXAL_COM1="$WORK/com1" "$BIN/vexal" "$@" >"$WORK/vexal.log" 2>"$WORK/vexal.err")
  local got=$?
  if [ "$got" != "$want" ]; then
    fail "vexal $* exited with $got, expected $want"
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
