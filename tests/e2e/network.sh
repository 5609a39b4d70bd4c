#!/bin/bash
# Boards on another host: vexal through ser2net (the exporter farms use) to the board simulator, in
# both forms, rfc2217:// and tcp://, and through a proxy of the test's own that adds the network's
# faults (every byte its own segment, 50 ms each way, notifications between answer bytes, a server that
# answers no option, the connection cut mid-download and mid-read); then the opening's failures.
#
#   bash network.sh BIN_DIR SOURCE_DIR
set -uo pipefail

BIN=$(realpath "${1:?usage: network.sh BIN_DIR SOURCE_DIR}")
SRC=$(realpath "${2:?usage: network.sh BIN_DIR SOURCE_DIR}")
HERE=$(dirname "${BASH_SOURCE[0]}")
source "$HERE/lib/board.sh"
source "$HERE/lib/loader.sh"
for tool in ser2net srec_cat python3; do
  command -v $tool >/dev/null || { echo "$tool is needed (scripts/install-deps.sh)"; exit 1; }
done
e2e_begin network
EXTRA_PIDS=()
network_end() {
  local pid
  for pid in "${EXTRA_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${EXTRA_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  e2e_end
}
trap network_end EXIT
LIMIT_POLLS=500  # 10 s in steps of 20 ms for anything to come up

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# listening PORT: whether a socket listens on 127.0.0.1:PORT (read from the kernel's table, so no
# connection is made: ser2net opens its device for every client).
listening() { grep -qi "0100007F:$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }

wait_listening() {
  for _ in $(seq $LIMIT_POLLS); do
    listening "$1" && return 0
    sleep 0.02
  done
  fail "nothing listens on port $1"
  return 1
}

STATION_PORTS=()
RFC_PORT=$(free_port)
TCP_PORT=$(free_port)
cat >"$WORK/ser2net.yaml" <<EOF
connection: &rfc
  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$RFC_PORT
  connector: serialdev,$WORK/rfc,38400n81,local
  options:
    chardelay: false
connection: &raw
  accepter: tcp(nodelay),127.0.0.1,$TCP_PORT
  connector: serialdev,$WORK/tcp,38400n81,local
  options:
    chardelay: false
EOF
# A fixture of eight boards behind the same ser2net, for the station.
STATION_BOARDS=8
for n in $(seq $STATION_BOARDS); do
  port=$(free_port)
  STATION_PORTS+=("$port")
  cat >>"$WORK/ser2net.yaml" <<EOF
connection: &st$n
  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$port
  connector: serialdev,$WORK/st$n,38400n81,local
  options:
    chardelay: false
EOF
done
ser2net -n -d -c "$WORK/ser2net.yaml" >"$WORK/ser2net.log" 2>&1 &
EXTRA_PIDS+=($!)
wait_listening "$RFC_PORT" && wait_listening "$TCP_PORT" || exit 1
declare -A URL=([rfc]="rfc2217://127.0.0.1:$RFC_PORT" [tcp]="tcp://127.0.0.1:$TCP_PORT")

# start_proxy MODE [ARG]: a proxy before the rfc2217 server; its URL in PROXY_URL.
start_proxy() {
  rm -f "$WORK/proxy.port"
  python3 "$HERE/lib/net_proxy.py" "$1" "$RFC_PORT" "$WORK/proxy.port" "${2:-0}" 2>"$WORK/proxy.err" &
  PROXY_PID=$!
  EXTRA_PIDS+=($PROXY_PID)
  for _ in $(seq $LIMIT_POLLS); do
    [[ -s $WORK/proxy.port ]] && break
    sleep 0.02
  done
  PROXY_URL="rfc2217://127.0.0.1:$(cat "$WORK/proxy.port")"
}
stop_proxy() {
  kill "$PROXY_PID" 2>/dev/null
  wait "$PROXY_PID" 2>/dev/null
}

# The firmware of the example job, and a small one of random bytes for the many short runs.
cp "$SRC/examples/firmware.s28" "$WORK/big.s28"
head -c 6000 /dev/urandom >"$WORK/small.bin"
srec_cat "$WORK/small.bin" -binary -offset 0x010000 -o "$WORK/small.s28" -motorola -address-length=3 \
  -Output_Block_Size 32 -disable=header -disable=data-count -execution-start-address=0x010000 2>/dev/null
image_of() {
  srec_cat "$WORK/$1" -motorola -fill 0xFF 0 0x1000000 -o "$WORK/$1.image" -binary 2>/dev/null
}
image_of big.s28
image_of small.s28

# board FORM: a fresh board behind FORM's connection, dumping its memory to $WORK/FORM.dump when stopped.
board() { start_board "$WORK/$1" --dump "$WORK/$1.dump"; }

# memory_is FORM FILE NAME: stops FORM's board; its memory must be FILE's image.
memory_is() {
  stop_board "$WORK/$1"
  if cmp -s "$WORK/$1.dump" "$WORK/$2.image"; then echo "ok      $3"; else fail "$3: the memory differs from $2"; fi
}

# expect CODE NAME ARGS...: vexal through PORT ends with CODE.
expect() {
  local want=$1 name=$2
  shift 2
  run_vexal "$@"
  if [[ $STATUS -eq $want ]]; then
    echo "ok      $name (exit code $STATUS, ${TOOK} s)"
  else
    fail "$name: exit code $STATUS, expected $want"
    tail -n 3 "$WORK/vexal.log" "$WORK/vexal.err" | sed 's/^/        | /'
  fi
}

no_retries() {
  grep -q '"text_retries":0,"block_retries":0' "$WORK/events.json" || fail "$1: attempts were repeated: $(tail -1 "$WORK/events.json")"
}

for form in rfc tcp; do
  PORT=${URL[$form]}
  board $form
  expect 0 "$form: the example firmware at 115200" b115200 big.s28
  memory_is $form big.s28 "$form: the board's memory is the example firmware"

  board $form
  expect 0 "$form: small firmware" small.s28
  expect 0 "$form: @verify" "@verify<small.s28"
  expect 0 "$form: @binget" "@binget010000,001770>read.bin"
  cmp -s "$WORK/read.bin" "$WORK/small.bin" || fail "$form: @binget read other bytes than were written"
  expect 0 "$form: another baud rate" b57600 "@verify<small.s28"
  memory_is $form small.s28 "$form: memory after the small firmware"

  board $form
  expect 0 "$form: option old" old small.s28
  memory_is $form small.s28 "$form: memory after option old"
done

# The server puts the rate asked on its line while the client is connected (and its own back after):
# the board's pseudo-terminal shows it while a slow board thinks over its answer.
board_line_speed() { stty -F "$(readlink -f "$WORK/rfc")" speed 2>/dev/null; }
start_board "$WORK/rfc" --think 800
PORT=${URL[rfc]} run_vexal b57600 &
run=$!
speed=
for _ in $(seq $LIMIT_POLLS); do
  speed=$(board_line_speed)
  [[ $speed == 57600 ]] && break
  kill -0 $run 2>/dev/null || break
  sleep 0.02
done
wait $run
[[ $speed == 57600 ]] && echo "ok      rfc: the board's line at the 57600 baud asked" ||
  fail "rfc: the board's line was at '$speed' baud, not the 57600 asked"
stop_board "$WORK/rfc"

# A board that really is silent fails as it does on a local line (nine windows of 306 ms, about 3 s),
# not later for the network's sake.
start_board "$WORK/rfc" --think 20000
PORT=${URL[rfc]} expect 5 "rfc: a silent board" "I000000"
[[ $TOOK -le 5 ]] || fail "rfc: a silent board took $TOOK s to fail"
kill_board "$WORK/rfc"

# Faults between vexal and the server.
for fault in "bytes" "delay 50" "notify" "no-options"; do
  # shellcheck disable=SC2086
  start_proxy $fault
  PORT=$PROXY_URL
  board rfc
  VEXAL_EVENTS=$WORK/events.json expect 0 "proxy $fault: small firmware" small.s28
  no_retries "proxy $fault"
  memory_is rfc small.s28 "proxy $fault: memory"
  stop_proxy
done
grep -q "did not confirm" "$WORK/vexal.err" || fail "no-options: standard error does not say the settings went unconfirmed"

# The connection cut mid-download and mid-read: the run ends as a failed line, never with success, and
# the read keeps what it had.
start_proxy cut-up 3000
PORT=$PROXY_URL
board rfc
expect 5 "the connection cut in the middle of a download" small.s28
grep -q "closed the connection\|connection to .* failed" "$WORK/vexal.err" || fail "cut download: no reason names the connection"
stop_board "$WORK/rfc"
stop_proxy

board rfc
PORT=${URL[rfc]}
expect 0 "a small firmware for the read to cut" small.s28
start_proxy cut-down 4000
PORT=$PROXY_URL
expect 5 "the connection cut in the middle of a @binget" "@binget010000,001770>cut.bin"
size=$(stat -c %s "$WORK/cut.bin" 2>/dev/null || echo none)
[[ $size != none && $size -gt 0 && $size -lt 6000 ]] || fail "cut @binget: the file holds $size bytes, not the part read"
cmp -s "$WORK/cut.bin" <(head -c "$size" "$WORK/small.bin") || fail "cut @binget: the part kept differs from memory"
stop_proxy

# The station with eight boards behind one ser2net, from a ports file that names them.
if [[ -x $BIN/vexal-station ]]; then
  echo "# the fixture's boards" >"$WORK/ports.txt"
  for n in $(seq $STATION_BOARDS); do
    start_board "$WORK/st$n" --dump "$WORK/st$n.dump"
    echo "rfc2217://127.0.0.1:${STATION_PORTS[n - 1]}  fixture-$n" >>"$WORK/ports.txt"
  done
  (cd "$WORK" && timeout 120 "$BIN/vexal-station" --ports-file ports.txt --vexal "$BIN/vexal" \
    --report station.json -- small.s28 >station.out 2>&1)
  status=$?
  [[ $status -eq 0 ]] && echo "ok      the station with $STATION_BOARDS boards behind one ser2net" ||
    { fail "the station ended with $status"; tail -n 5 "$WORK/station.out"; }
  grep -q "fixture-$STATION_BOARDS" "$WORK/station.json" || fail "the station's report does not name the boards"
  grep -q "rfc2217://127.0.0.1:${STATION_PORTS[0]}" "$WORK/station.json" || fail "the station's report does not name the URL"
  for n in $(seq $STATION_BOARDS); do
    stop_board "$WORK/st$n"
    cmp -s "$WORK/st$n.dump" "$WORK/small.s28.image" || fail "station board $n: the memory differs"
  done
fi

# Failures of the opening: the console's UART line, the reason on standard error, exit code 2.
opening_fails() {
  local name=$1 reason=$2
  expect 2 "$name" "@verify<small.s28"
  grep -q "Wrong settings" "$WORK/vexal.log" || fail "$name: no UART line on the console"
  grep -q "$reason" "$WORK/vexal.err" || fail "$name: standard error does not say '$reason': $(cat "$WORK/vexal.err")"
}
PORT="tcp://127.0.0.1:$(free_port)" opening_fails "connection refused" "Connection refused"
PORT="rfc2217://no-such-host.invalid:3001" opening_fails "unknown host" "unknown host no-such-host.invalid"
# ser2net lets one client in: a second one is turned away while the first holds the port.
exec 7<>"/dev/tcp/127.0.0.1/$RFC_PORT"
PORT=${URL[rfc]} opening_fails "the port held by another client" "rfc2217://127.0.0.1:$RFC_PORT"
exec 7>&-
stop_board "$WORK/rfc"

for url in "rfc2217://host" "rfc2217://:3001" "tcp://host:65536" "tcp://[::1:3001"; do
  PORT=$url expect 1 "malformed URL $url" "@verify<small.s28"
  [[ $(grep -c . "$WORK/vexal.err") -eq 1 ]] || fail "malformed URL $url: not one line on standard error"
done

finish_checks
