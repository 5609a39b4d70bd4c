#!/usr/bin/env bash
# The memory commands end to end: the vexal binary against vq3140-sim over a pseudo-terminal.
#
# Round trips of random files through the board's memory (checked against the simulator's own dump as
# well), a hex dump checked against od, the telegrams of a length that is not a whole number of chunks,
# the command-file form, and exit codes as the binary reports them.
#
#   memory.sh BIN_DIR SOURCE_DIR
set -u

BIN=$(cd "$1" && pwd) || exit 1
source "$(dirname "$0")/lib/board.sh"
e2e_begin e2e-memory
SIM_OPTIONS=(--log "$WORK/sim.log")
source "$(dirname "$0")/lib/loader.sh"

random_file() {  # NAME BYTES
  head -c "$2" /dev/urandom >"$WORK/$1"
}

round_trips() {
  local sizes=(0 1 63 64 65 4096 100000)
  local addr=$((0x012345)) last_addr=-1 last_size=0
  start_sim --dump "$WORK/board.bin@012345,C0000"
  for size in "${sizes[@]}"; do
    local a l
    a=$(printf '%06X' "$addr")
    l=$(printf '%06X' "$size")
    random_file "in$size.bin" "$size"
    run_loader 0 "@binput$a<in$size.bin" || continue
    run_loader 0 "@binget$a,$l>out$size.bin" || continue
    cmp -s "$WORK/in$size.bin" "$WORK/out$size.bin" || fail "round trip of $size bytes at $a differs"
    last_addr=$addr
    last_size=$size
    addr=$((addr + size + 0x100))
  done
  stop_sim
  [ "$last_addr" -ge 0 ] || return
  # The board's own image of the last range written, independent of the loader's reading.
  cmp -s <(tail -c +$((last_addr - 0x012345 + 1)) "$WORK/board.bin" | head -c "$last_size") \
    "$WORK/in$last_size.bin" || fail "board memory differs from the last file written"
}

hex_dump_matches_od() {
  local base=$((0xABCDE1)) size=$((0x35))
  random_file img.bin "$size"
  start_sim --load "$WORK/img.bin@ABCDE1"
  run_loader 0 "@hexgetABCDE1,000035>dump.txt"
  stop_sim
  od -An -v -tx1 -w16 "$WORK/img.bin" |
    awk -v base="$base" '{ printf "%06X: ", base + (NR - 1) * 16
                           for (i = 1; i <= NF; i++) printf "%s ", toupper($i)
                           printf "\n" }' >"$WORK/expected.txt"
  cmp -s "$WORK/expected.txt" "$WORK/dump.txt" || {
    fail "hex dump differs from od's"
    diff "$WORK/expected.txt" "$WORK/dump.txt"
  }
}

read_past_a_whole_chunk() {
  random_file img65.bin 65
  start_sim --load "$WORK/img65.bin@000000"
  run_loader 0 "@binget000000,000041>x.bin"
  stop_sim
  cmp -s "$WORK/img65.bin" "$WORK/x.bin" || fail "65-byte read differs"
  local sent
  sent=$(grep -o '"R[0-9A-F]*,[0-9A-F]*\\n"' "$WORK/sim.log" | tr '\n' ' ')
  [ "$sent" = '"R000000,40\n" "R000040,01\n" ' ] || fail "65-byte read sent $sent"
}

command_file_names_end_before_the_line_feed() {
  random_file cf.bin 100
  printf '@binput000200<cf.bin\n@binget000200,000064>y\n@hexget000200,000002>cf.txt\n' >"$WORK/cmds.txt"
  start_sim
  run_loader 0 cmds.txt
  stop_sim
  cmp -s "$WORK/cf.bin" "$WORK/y" || fail "command file: y differs from cf.bin"
  [ "$(head -c 2 "$WORK/cf.bin" | od -An -tx1 | tr -d ' \n' | tr a-f A-F)" = \
    "$(cut -c9- "$WORK/cf.txt" | tr -d ' \n')" ] || fail "command file: cf.txt holds $(cat "$WORK/cf.txt")"
  [ -z "$(find "$WORK" -maxdepth 1 \( -name 'y?*' -o -name 'cf.txt?*' \))" ] ||
    fail "command file: a name kept its line end"
}

exit_codes_reach_the_caller() {
  start_sim
  run_loader 9 "@bingetFFFFFF,000002>top.bin"   # a range past the top of memory: refused, nothing sent
  run_loader 9 "@BINGET000000,000010>x.bin"
  run_loader 3 "@binget000000,000002>no/such/dir.bin"
  run_loader 3 "@binput000000<missing.bin"
  random_file big.bin 100
  run_loader 9 "@binputFFFFC0<big.bin"           # would run past the top of memory: nothing sent
  stop_sim
  if grep -q '"W' "$WORK/sim.log"; then fail "a write telegram went out for a file that does not fit"; fi
}

# A line that repeats every answer 3 ms behind itself (at 115200 baud, as seen on a board answering
# twice): with the early end the run fails with exit code 5 and says why on standard error, its last
# answer's repeat included; the full window reads it whole. A read answer one byte short or long ends
# the run at its chunk with exit code 9, the file holding the chunks before it.
answers_not_asked_for() {
  random_file rep.bin 640
  start_sim --baud 115200 --load "$WORK/rep.bin@000000" --fault twice:every=1
  run_loader 5 b115200 "@binget000000,000280>rep.out"
  grep -q 'repeats answers.*VEXAL_WINDOW=full' "$WORK/vexal.err" || fail "twice: standard error does not say why"
  run_loader 5 b115200 I000000
  VEXAL_WINDOW=full run_loader 0 b115200 "@binget000000,000280>rep.out"
  cmp -s "$WORK/rep.bin" "$WORK/rep.out" || fail "twice: the full window's read differs"
  stop_sim
  start_sim --load "$WORK/rep.bin@000000" --fault ragged:every=3
  run_loader 9 "@binget000000,000280>rag.out"
  grep -q '^Error: Bad length (   6[35]/   64)' "$WORK/vexal.log" || fail "ragged: no Bad length line"
  cmp -s <(head -c 128 "$WORK/rep.bin") "$WORK/rag.out" || fail "ragged: the file is not the two chunks before"
  stop_sim
}

round_trips
hex_dump_matches_od
answers_not_asked_for
read_past_a_whole_chunk
command_file_names_end_before_the_line_feed
exit_codes_reach_the_caller

finish_checks
