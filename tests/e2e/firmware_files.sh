#!/bin/bash
# "@load" and "@verify" of firmware files as toolchains write them. One image is linked into ELF files
# (32 and 64 bit, both byte orders) and turned by objcopy and srec_cat into Intel HEX, raw binary and
# S-records of every width; each is loaded into the board simulator, whose memory must equal the image
# byte for byte, and the frames of each load (VEXAL_TRACE) must be those of the S2/S8 command file of
# the same image (and @load of examples/firmware.s28 those of the command file). Then the refusals: each
# ends with its "Error" line and exit code, and sends nothing. Last, vexal's ELF reader and libelf must
# find the same segments in every ELF file linked here (test_elf_oracle).
#
#   bash firmware_files.sh BIN_DIR SOURCE_DIR
source "$(dirname "$0")/download.sh"
for tool in as ld objcopy python3; do
  command -v $tool >/dev/null || { echo "$tool is needed (packages binutils, python3)"; exit 1; }
done
LIB=$(dirname "$0")/lib
BASE=0x008000  # below 64 KiB, so that S1 records can hold the image too

# link NAME EMULATION LOAD_ADDRESS [RUN_ADDRESS]: $WORK/NAME.elf holding code.bin at LOAD_ADDRESS (its
# physical address; RUN_ADDRESS is the virtual one, LOAD_ADDRESS when not given), entry at its start.
link() {
  local name=$1 emulation=$2 load=$3 run=${4:-$3} bits=--64
  [[ $emulation == elf_i386 ]] && bits=--32
  printf '  .section .text, "ax"\n  .incbin "code.bin"\n' >"$WORK/fw.s"
  printf 'ENTRY(_start)\nSECTIONS { .text %s : AT(%s) { _start = .; *(.text) } }\n' "$run" "$load" >"$WORK/fw.ld"
  (cd "$WORK" && as "$bits" -o "$name.o" fw.s && ld -m "$emulation" -T fw.ld -o "$name.elf" "$name.o") ||
    fail "linking $name"
}

# frames TRACE: the frames a trace holds, without their times.
frames() { grep -E '^ *[0-9.]+ (tx|rx) ' "$1" | sed -E 's/^ *[0-9.]+ //'; }

# load NAME EXPECT REFERENCE ARGS...: runs vexal with a trace; judges as download.sh does (EXPECT: match,
# error:N), and with a REFERENCE trace other than "-" the frames must equal its frames.
load() {
  local name=$1 expect=$2 reference=$3
  shift 3
  # shellcheck disable=SC2086
  start_sim ${SIM_EXTRA:-}
  rm -f "$WORK/trace"
  VEXAL_TRACE=$WORK/trace run_vexal "$@"
  stop_sim
  judge "$name" "$expect"
  if [[ $reference != - ]] && ! cmp -s <(frames "$WORK/trace") <(frames "$reference"); then
    fail "$name: the frames differ from the S2 file's:" \
      "$(diff <(frames "$reference") <(frames "$WORK/trace") | head -3)"
  fi
}

# log_has TEXT: the console log holds TEXT. The console breaks its lines after column 80, so the text
# is looked for in the log without line ends (grep -c reads to the end: behind grep -q under pipefail,
# tr could die of SIGPIPE).
log_has() { [[ $(tr -d '\n' <"$WORK/vexal.log" | grep -cF "$1") -gt 0 ]]; }

# refused NAME CODE TEXT ARGS...: exit code CODE, an Error line holding TEXT, and no telegram sent.
refused() {
  local name=$1 code=$2 text=$3
  shift 3
  load "$name" "error:$code" - "$@"
  log_has "$text" || fail "$name: no '$text' in: $(grep -A1 Error "$WORK/vexal.log")"
  ! grep -qE ' tx ' "$WORK/trace" || fail "$name: telegrams were sent"
}

random_bin code.bin 5000
to_srec fw.s28 32 $BASE "$WORK/code.bin" -binary -offset $BASE
expected_image fw.s28
# The reference: the S2/S8 file as a command file.
load "the S2/S8 file as a command file" match - fw.s28
cp "$WORK/trace" "$WORK/reference.trace"
[[ $(frames "$WORK/reference.trace" | grep -c '^tx ') -gt 0 ]] || fail "the reference trace holds no frames"
# A file without a start address ends with an S8 line of 000000: its reference is such an S2 file.
to_srec fw0.s28 32 0 "$WORK/code.bin" -binary -offset $BASE
load "the S2 file with an S8 line of 000000 as a command file" match - fw0.s28
cp "$WORK/trace" "$WORK/reference0.trace"

link fw32 elf_i386 $BASE
link fw64 elf_x86_64 $BASE
python3 "$LIB/elf_big_endian.py" "$WORK/fw32.elf" "$WORK/fw32be.elf"
python3 "$LIB/elf_big_endian.py" "$WORK/fw64.elf" "$WORK/fw64be.elf"
objcopy -O ihex "$WORK/fw32.elf" "$WORK/fw.hex"
objcopy -O binary "$WORK/fw32.elf" "$WORK/fw.bin"
objcopy -O srec --srec-forceS3 "$WORK/fw32.elf" "$WORK/fw.s37"
srec_cat "$WORK/code.bin" -binary -offset $BASE -o "$WORK/fw.s19" -motorola -address-length=2 \
  -execution-start-address=$BASE
srec_cat "$WORK/code.bin" -binary -offset $BASE -o "$WORK/counted.s19" -motorola -address-length=2
grep -q '^S5' "$WORK/counted.s19" && ! grep -q '^S9' "$WORK/counted.s19" || fail "srec_cat's default output changed"
# CR LF line ends and a byte-order mark, as an editor on another system saves them.
{ printf '\xEF\xBB\xBF'; sed 's/$/\r/' "$WORK/fw.hex"; } >"$WORK/crlf.hex"

for file in fw.s28 fw32.elf fw64.elf fw32be.elf fw64be.elf fw.hex crlf.hex fw.s37 fw.s19; do
  load "@load<$file" match "$WORK/reference.trace" "@load<$file"
done
load "@load008000<fw.bin (raw binary)" match "$WORK/reference0.trace" "@load008000<fw.bin"
load "@load<counted.s19 (S0, S1, S5, no end record)" match "$WORK/reference0.trace" "@load<counted.s19"
SIM_EXTRA=--old-bios load "fw.s28 with option old, against an old BIOS" match - old fw.s28
cp "$WORK/trace" "$WORK/old.trace"
SIM_EXTRA=--old-bios load "@load<fw.hex with option old, against an old BIOS" match "$WORK/old.trace" \
  old "@load<fw.hex"
# The progress, the summary and the events count the image's bytes, whatever the file's size.
start_sim
VEXAL_EVENTS=$WORK/events.jsonl run_vexal "@load<fw64.elf"
stop_sim
grep '"event":"end"' "$WORK/events.jsonl" | grep '"code":0,"error":""' | grep -q '"bytes":5000,' ||
  fail "the end event of @load<fw64.elf: $(grep '"end"' "$WORK/events.jsonl")"
grep -q 'loading fw64.elf: 100% (5000 of 5000 bytes' "$WORK/vexal.err" &&
  grep -q '^vexal: 5000 bytes in' "$WORK/vexal.err" ||
  fail "the progress and summary of @load<fw64.elf: $(tail -n 2 "$WORK/vexal.err")"
# A file in a command file, beside other lines.
printf 'I000000\n@load<fw.hex\n' >"$WORK/job.txt"
load "@load inside a command file" match - job.txt

# The example firmware: @load of it and the command file give the same frames, byte for byte.
SOURCE=$(realpath "${2:-$(dirname "$0")/../..}")
cp "$SOURCE/examples/firmware.s28" "$WORK/example.s28"
srec_cat "$WORK/example.s28" -motorola -fill 0xFF 0 0x1000000 -o "$WORK/image.bin" -binary 2>/dev/null
IMAGE_OF=
load "examples/firmware.s28 as a command file" match - example.s28
cp "$WORK/trace" "$WORK/example.trace"
load "@load<examples/firmware.s28" match "$WORK/example.trace" "@load<example.s28"
expected_image fw.s28

# The ELF's physical address counts, not its virtual one; two segments apart; the same bytes twice.
link apart elf_x86_64 0x030000 0x900000
cp "$WORK/fw.s28" "$WORK/both.s28"
start_sim
run_vexal "@load<fw32.elf" "@load<apart.elf"
stop_sim
srec_cat '(' "$WORK/code.bin" -binary -offset $BASE "$WORK/code.bin" -binary -offset 0x030000 ')' \
  -fill 0xFF 0 0x1000000 -o "$WORK/image.bin" -binary
IMAGE_OF=
judge "two ELF files, one linked to run elsewhere than it loads" match
{ grep -v '^:00000001FF' "$WORK/fw.hex"; cat "$WORK/fw.hex"; } >"$WORK/twice.hex"
expected_image fw.s28
load "a HEX file that writes every byte twice, the same" match - "@load<twice.hex"

# @verify takes the same files.
start_sim
run_vexal fw.s28 "@verify<fw.hex" "@verify<fw64be.elf" "@verify008000<fw.bin" "@verify<fw.s37"
stop_sim
[[ $STATUS -eq 0 && $(grep -c 'Verified 5000 bytes.' "$WORK/vexal.log") -eq 4 ]] ||
  fail "@verify of the formats: status $STATUS, $(grep -E 'Verified|Error' "$WORK/vexal.log" | tr '\n' ' ')"
byte=$(od -An -tu1 -j16 -N1 "$WORK/code.bin" | tr -d ' ')
other=$(printf '%02X' $((255 - byte)))
start_sim
run_vexal fw.s28 "W008010<$other" "@verify<fw64.elf"
stop_sim
grep -q "Error: Verify failed at 008010: expected $(printf '%02X' "$byte"), found $other." "$WORK/vexal.log" &&
  [[ $STATUS -eq 9 ]] || fail "@verify<fw64.elf after a changed byte: $STATUS"

# The refusals.
head -c 300 /dev/urandom | { printf 'MZ'; cat; } >"$WORK/unknown.img"
refused "a file of no known format" 3 "unknown.img is no S-record, Intel HEX or ELF file (it begins with 4D 5A" \
  "@load<unknown.img"
log_has '@load012300<unknown.img' || fail "the unknown format's line names no address form"
# One data digit of line 3 changed: its checksum no longer fits.
awk 'NR == 3 { d = substr($0, 10, 1); $0 = substr($0, 1, 9) (d == "0" ? "1" : "0") substr($0, 11) } 1' \
  "$WORK/fw.hex" >"$WORK/badsum.hex"
refused "a HEX record with a wrong checksum" 3 "badsum.hex: line 3 has the checksum" \
  "@load<badsum.hex"
grep -v '^:00000001FF' "$WORK/fw.hex" >"$WORK/noend.hex"
refused "a HEX file without its end record" 3 "may be cut short" "@load<noend.hex"
grep -v '^S5' "$WORK/counted.s19" >"$WORK/uncounted.s19"
refused "S-records with neither end nor count record" 3 "may be cut short" "@load<uncounted.s19"
sed '5d' "$WORK/counted.s19" >"$WORK/miscounted.s19"
refused "a count record that disagrees" 3 "data records, but" "@load<miscounted.s19"
link high elf_x86_64 0x1000100
refused "an ELF segment above FFFFFF" 9 "puts data at 1000100, outside memory 000000-FFFFFF" \
  "@load<high.elf"
link straddle elf_i386 0xFFF000
refused "an ELF segment across FFFFFF" 9 "puts data at 1000000, outside" "@load<straddle.elf"
refused "a raw binary past FFFFFF" 9 "fw.bin: offset 0x0 puts data at 1000000" "@loadFFF000<fw.bin"
printf ':02800000AABB19\n:01800100BBC3\n:02800000AACC08\n:00000001FF\n' >"$WORK/overlap.hex"
refused "two records writing other bytes at one address" 3 \
  "overlap.hex: line 1 and line 3 write different bytes at 008001" "@load<overlap.hex"
head -c 5000 "$WORK/fw64.elf" >"$WORK/cut.elf"
refused "an ELF file cut short" 3 "cut.elf: program header 0 has its bytes past the end of the file" "@load<cut.elf"
head -c 40 "$WORK/fw64.elf" >"$WORK/stub.elf"
refused "an ELF file cut inside its header" 3 \
  "stub.elf: the ELF header (64 bytes of a 64-bit file) reaches past the end of the file: the file is cut short." \
  "@load<stub.elf"
# Cut inside its program-header table (it begins at byte 64): cut short, not a file without data.
head -c 100 "$WORK/fw64.elf" >"$WORK/table.elf"
refused "an ELF file cut inside its program headers" 3 \
  "table.elf: the program headers (" "@load<table.elf"
log_has "reach past the end of the file: the file is cut short." || fail "the cut table: $(grep Error "$WORK/vexal.log")"
# A 64-bit segment whose physical address plus its size wraps past 2^64: outside the memory, no crash.
python3 "$LIB/elf_set_paddr.py" "$WORK/fw64.elf" "$WORK/wrapped.elf" 0xFFFFFFFFFFFFFFF0
refused "an ELF segment whose address wraps past 2^64" 9 "puts data at FFFFFFFFFFFFFFF0, outside memory" \
  "@load<wrapped.elf"
refused "@verify of that ELF file" 9 "puts data at FFFFFFFFFFFFFFF0, outside memory" "@verify<wrapped.elf"
refused "@verify of a HEX file with a wrong checksum" 3 "badsum.hex: line 3 has the checksum" "@verify<badsum.hex"
refused "@load without a file name" 9 "Error: Syntax error" "@load<"
refused "@load with a short address" 9 "Error: Syntax error" "@load12<fw.bin"

# Every ELF file linked here reads as libelf, the oracle, reads it: the same segments and entry point.
elf_files=()
for file in "$WORK"/*.elf; do
  case ${file##*/} in stub.elf | table.elf | cut.elf | wrapped.elf) ;; *) elf_files+=("$file") ;; esac
done
VEXAL_ELF_FILES="${elf_files[*]}" "$BIN/test_elf_oracle" --gtest_filter='ElfOracle.TheLinkedFiles*' \
  >"$WORK/oracle.log" 2>&1 || fail "the ELF reader and libelf disagree: $(grep -A3 Failure "$WORK/oracle.log")"
report ok "${#elf_files[@]} linked ELF files read as libelf reads them"

# A command file's S1 line goes as text, with one hint on standard error.
start_sim --answer 'S1130000000102030405060708090A0B0C0D0E0F74=*'
printf 'S1130000000102030405060708090A0B0C0D0E0F74\nS1130000000102030405060708090A0B0C0D0E0F74\n' >"$WORK/text.s19"
run_vexal text.s19
stop_sim
[[ $(grep -c '@load<FILE packs them into blocks' "$WORK/vexal.err") -eq 1 ]] ||
  fail "the hint on S1 lines sent as text: $(cat "$WORK/vexal.err")"

finish_checks
