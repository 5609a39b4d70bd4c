#!/bin/sh
# The test runner's emulator for the Win32 build: wine-run.sh WINE PROGRAM.exe ARGS...
#
# Wine's 64-bit loader now and then fails its own exit after the program has ended: the dynamic
# linker's clean-up asserts ("Inconsistency detected by ld.so: dl-fini.c ...") and the status becomes
# 127, whatever the program returned. Such a run says nothing about the program, so it is run once
# more. Any other status, and a second failure of the same kind, go to the caller as they are.
set -u
errors=$(mktemp "${TMPDIR:-/tmp}/wine-run-XXXXXX") || exit 125
trap 'rm -f "$errors"' EXIT
for attempt in 1 2; do
  "$@" 2>"$errors"
  status=$?
  cat "$errors" >&2
  [ "$status" -eq 127 ] && [ "$attempt" -eq 1 ] && grep -q "^Inconsistency detected by ld.so" "$errors" || exit "$status"
  echo "wine-run.sh: wine's loader failed its exit, running $2 once more" >&2
done
