# Checks in the test scripts: sourced by bash.
#
#   fail TEXT...     reports a failed check ("FAIL: TEXT") and counts it in FAILURES; when FAIL_STOPS
#                    is 1 (scripts whose steps build on each other), the script ends there, status 1
#   finish_checks    the script's end: "all checks passed" (with the count in PASSED when a script keeps
#                    one), or the count of failed ones and status 1
#   wait_for FILE PATTERN [SECONDS]
#                    waits until a line of FILE matches the extended regular expression PATTERN; after
#                    SECONDS (default 10, a guard against a hang, not a measure) it fails, shows FILE and
#                    returns 1
#   acceptance_report LABEL LOADER [strict]
#                    runs the acceptance cases kept beside the project (../shared/acceptance, from the
#                    repository's root) against LOADER when they are there, and prints "LABEL: N passed
#                    and M failed" with the failed cases; with "strict" a failed case returns 1, without
#                    it the result is only reported

FAILURES=0

fail() {
  echo "FAIL: $*"
  FAILURES=$((FAILURES + 1))
  if [[ ${FAIL_STOPS:-0} == 1 ]]; then exit 1; fi
  return 0
}

finish_checks() {
  if [[ $FAILURES -ne 0 ]]; then
    echo "$FAILURES check(s) failed"
    exit 1
  fi
  echo "all checks passed${PASSED:+ ($PASSED)}"
}

wait_for() {
  local file=$1 pattern=$2 tenths=$((${3:-10} * 10))
  for _ in $(seq "$tenths"); do
    grep -Eq "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no line matching '$pattern' in $file within ${3:-10} s"
  cat "$file"
  return 1
}

acceptance_report() {
  local label=$1 loader=$2 strict=${3:-} out status=0
  [[ -x ../shared/acceptance/run ]] || return 0
  out=$(../shared/acceptance/run "$loader" 2>&1) || status=$?
  local summary
  summary=$(tail -n 1 <<<"$out")
  echo "$label: ${summary/passed, /passed and }"
  [[ $status -eq 0 ]] && return 0
  grep -v '^PASS' <<<"$out" | sed '$d' || true
  [[ $strict == strict ]] && return 1
  return 0
}
