#!/bin/bash
# Firmware downloads into the board simulator, checked byte for byte: every image is made by srec_cat
# from random binaries, downloaded with vexal, and the simulator's 16 MiB memory dump must equal
# srec_cat's binary of the same records (0xFF where no record put data).
#
#   bash download.sh BIN_DIR SOURCE_DIR
#
# Sourced by the other download*.sh scripts for its helpers; run on its own it checks plain layouts.
set -uo pipefail

BIN=$(realpath "${1:?usage: download.sh BIN_DIR SOURCE_DIR}")
source "$(dirname "${BASH_SOURCE[0]}")/lib/board.sh"
source "$(dirname "${BASH_SOURCE[0]}")/lib/loader.sh"
command -v srec_cat >/dev/null || { echo "srec_cat is needed (package srecord)"; exit 1; }
e2e_begin e2e
# Every board starts with erased memory and writes it to $WORK/dump.bin when it is stopped.
SIM_OPTIONS=(--dump "$WORK/dump.bin")
MEMORY_END=0x1000000

# random_bin NAME SIZE: SIZE random bytes in $WORK/NAME.
random_bin() { head -c "$2" /dev/urandom >"$WORK/$1"; }

# to_srec OUT RECORD_SIZE S8_ADDRESS INPUT_ARGS...: S2 records with an S8 end record, nothing else.
to_srec() {
  local out=$1 size=$2 start=$3
  shift 3
  srec_cat "$@" -o "$WORK/$out" -motorola -address-length=3 -Output_Block_Size "$size" \
    -disable=header -disable=data-count -execution-start-address="$start" 2>/dev/null
}

# expected_image ARGS...: what the memory must hold after the record files among ARGS are written.
# Filling 16 MiB is the slow part of a check, so the image of the last file list is kept.
IMAGE_OF=
expected_image() {
  [[ $IMAGE_OF == "$*" && -f $WORK/image.bin ]] && return 0
  local inputs=()
  for f in "$@"; do
    [[ -f $WORK/$f ]] && inputs+=("$WORK/$f" -motorola)  # loader options such as old are no files
  done
  rm -f "$WORK/image.bin"
  IMAGE_OF=
  srec_cat '(' "${inputs[@]}" ')' -fill 0xFF 0 "$MEMORY_END" -o "$WORK/image.bin" -binary 2>/dev/null &&
    IMAGE_OF="$*"
}

# report ok NAME | report failed NAME WHY: a failed one with the end of the run's output.
report() {
  if [[ $1 == ok ]]; then
    echo "ok      $2"
  else
    fail "$2: $3"
    cat "$WORK/vexal.log" "$WORK/vexal.err" | tail -n 5 | sed 's/^/        | /'
  fi
}

# judge NAME EXPECT: EXPECT is
#   match           the run succeeded and the memory equals the image;
#   match-or-error  as match, or the run ended with an "Error" line and a code from 3 to 9 (whatever
#                   the memory holds then), but never success with a memory that differs;
#   error:N         the run ended with exit code N and an "Error" line;
#   written-error:N as error:N, and the memory equals the image all the same (everything was written,
#                   but the run can't be called a success).
judge() {
  local name=$1 expect=$2 same=no
  cmp -s "$WORK/dump.bin" "$WORK/image.bin" && same=yes
  local failed_with_error=no
  # grep reads the files itself: behind `cat a b | grep -q` under pipefail, cat could be killed by
  # SIGPIPE after grep found its match in the first file, and the pipeline then failed.
  grep -q "Error" "$WORK/vexal.log" "$WORK/vexal.err" && [[ $STATUS -ge 3 && $STATUS -le 9 ]] && failed_with_error=yes
  case $expect in
    match)
      if [[ $STATUS -ne 0 ]]; then report failed "$name" "vexal ended with $STATUS"
      elif [[ $same != yes ]]; then report failed "$name" "memory differs: $(cmp "$WORK/dump.bin" "$WORK/image.bin" | head -1)"
      else report ok "$name"; fi ;;
    match-or-error)
      if [[ $STATUS -eq 0 && $same == yes ]]; then report ok "$name (identical)"
      elif [[ $STATUS -eq 0 ]]; then report failed "$name" "success reported with a memory that differs"
      elif [[ $failed_with_error == yes ]]; then report ok "$name (ended with exit code $STATUS)"
      else report failed "$name" "vexal ended with $STATUS and no error line"; fi ;;
    written-error:*)
      if [[ $STATUS -ne ${expect#written-error:} || $failed_with_error != yes ]]; then
        report failed "$name" "expected exit code ${expect#written-error:}, got $STATUS"
      elif [[ $same != yes ]]; then report failed "$name" "memory differs: $(cmp "$WORK/dump.bin" "$WORK/image.bin" | head -1)"
      else report ok "$name"; fi ;;
    error:*)
      if [[ $STATUS -eq ${expect#error:} && $failed_with_error == yes ]]; then report ok "$name"
      else report failed "$name" "expected exit code ${expect#error:}, got $STATUS"; fi ;;
  esac
}

# download NAME "SIM OPTIONS" ARGS...: runs vexal with ARGS against a fresh board and judges the result
# against $EXPECT (default: match).
download() {
  local name=$1 sim_options=$2
  shift 2
  # shellcheck disable=SC2086
  start_sim $sim_options || { report failed "$name" "no simulator"; return; }
  run_vexal "$@"
  stop_sim
  if ! expected_image "$@"; then
    report failed "$name" "srec_cat made no image"
    return
  fi
  judge "$name" "${EXPECT:-match}"
}

# out_of_order IN OUT: the S2 lines of IN shuffled, its S8 line last.
out_of_order() {
  { grep '^S2' "$WORK/$1" | shuf; grep '^S8' "$WORK/$1"; } >"$WORK/$2"
}

# without_s8 IN OUT: the records of IN with no end record.
without_s8() { grep -v '^S8' "$WORK/$1" >"$WORK/$2"; }

check_layouts() {
  random_bin a.bin 4096
  random_bin b.bin 3000
  random_bin c.bin 700

  to_srec r16.s28 16 0x010000 "$WORK/a.bin" -binary -offset 0x010000
  download "S2 records of 16 bytes at 0x010000" "" r16.s28

  to_srec r32.s28 32 0x010000 "$WORK/a.bin" -binary -offset 0x010000
  download "S2 records of 32 bytes at 0x010000" "" r32.s28

  to_srec gaps.s28 32 0x020000 "$WORK/b.bin" -binary -offset 0x020000 \
    "$WORK/c.bin" -binary -offset 0x030011 "$WORK/c.bin" -binary -offset 0x031000
  download "image with gaps" "" gaps.s28

  out_of_order r16.s28 shuffled.s28
  download "records out of address order" "" shuffled.s28
}


if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  check_layouts
  finish_checks
fi
