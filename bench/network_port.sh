#!/bin/bash
# A board on another host: the same download through the board's pseudo-terminal and through ser2net
# on 127.0.0.1 (rfc2217:// and tcp://, with `chardelay: false`; and rfc2217:// with ser2net's default
# chardelay), on one simulator paced at a real baud rate. Prints each way's throughput beside the
# local one's, and the identity query's time (the opening included: connect, negotiation, purge and
# the opening's listen).
#
#   bench/network_port.sh BIN_DIR [KIB [BAUD]]     defaults: the example firmware (232 KiB), 115200
set -uo pipefail

BIN=$(cd "${1:?usage: network_port.sh BIN_DIR [KIB [BAUD]]}" && pwd)
KIB=${2:-}
BAUD=${3:-115200}
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../scripts/lib/sim.sh"
command -v ser2net >/dev/null || { echo "ser2net is needed (scripts/install-deps.sh)"; exit 1; }
work=$(mktemp -d /tmp/vexal-bench-XXXXXX)
S2N_PID=
cleanup() {
  [[ -n $S2N_PID ]] && kill "$S2N_PID" 2>/dev/null && wait "$S2N_PID" 2>/dev/null
  sim_stop
  rm -rf "$work"
}
trap cleanup EXIT

if [[ -n $KIB ]]; then
  head -c $((KIB * 1024)) /dev/urandom >"$work/fw.bin"
  srec_cat "$work/fw.bin" -binary -offset 0x010000 -o "$work/fw.s28" -motorola -address-length=3 \
    -Output_Block_Size 32 -disable=header -disable=data-count -execution-start-address=0x010000
else
  cp "$HERE/../examples/firmware.s28" "$work/fw.s28"
fi

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listening() { grep -qi "0100007F:$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }
declare -A PORTS=([rfc2217]=$(free_port) [tcp]=$(free_port) [chardelay]=$(free_port))
accepter() {
  case $1 in
    tcp) echo "tcp(nodelay),127.0.0.1,${PORTS[$1]}" ;;
    *) echo "telnet(rfc2217),tcp(nodelay),127.0.0.1,${PORTS[$1]}" ;;
  esac
}
for way in rfc2217 tcp chardelay; do
  cat >>"$work/ser2net.yaml" <<EOF
connection: &$way
  accepter: $(accepter $way)
  connector: serialdev,$work/com1,${BAUD}n81,local
EOF
  [[ $way != chardelay ]] && printf '  options:\n    chardelay: false\n' >>"$work/ser2net.yaml"
done
sim_start "$BIN/vq3140-sim" "$work/com1" /dev/null "$work/sim.err" --baud "$BAUD" || exit 1
ser2net -n -d -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
S2N_PID=$!
for _ in $(seq 500); do
  listening "${PORTS[chardelay]}" && break
  sleep 0.02
done

# seconds COMMAND...: the command's wall time in seconds, 3 decimals (its output dropped).
seconds() {
  local start end
  start=$(date +%s%N)
  (cd "$work" && "$@" >/dev/null 2>"$work/run.err") || { echo "failed: $*: $(tail -1 "$work/run.err")" >&2; }
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

bytes=$(grep -c '^S2' "$work/fw.s28")
printf 'download of %s (%s S2 records) at %s baud, paced simulator; identity query with the opening\n' \
  "$([[ -n $KIB ]] && echo "$KIB KiB" || echo "the example firmware")" "$bytes" "$BAUD"
printf '%-34s %10s %10s %12s %14s\n' way seconds "kB/s" "x local" "identity (s)"
local_rate=
for way in local rfc2217 tcp chardelay; do
  port=$work/com1
  [[ $way == local ]] || port="$([[ $way == tcp ]] && echo tcp || echo rfc2217)://127.0.0.1:${PORTS[$way]}"
  took=$(seconds "$BIN/vexal" --port "$port" -q b"$BAUD" fw.s28)
  data=$(sed -n 's/^vexal: \([0-9]*\) bytes in.*/\1/p' "$work/run.err" | tail -1)
  identity=$(seconds "$BIN/vexal" --port "$port" b"$BAUD")
  rate=$(awk -v b="${data:-0}" -v s="$took" 'BEGIN { printf "%.1f", b / s / 1000 }')
  [[ -z $local_rate ]] && local_rate=$rate
  name=$way
  [[ $way == chardelay ]] && name="rfc2217, ser2net's default chardelay"
  printf '%-34s %10s %10s %12s %14s\n' "$name" "$took" "$rate" \
    "$(awk -v r="$rate" -v l="$local_rate" 'BEGIN { printf "%.3f", r / l }')" "$identity"
done
