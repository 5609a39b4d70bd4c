# Helpers of the wine end-to-end tests (sourced after scripts/win32-env.sh).
#
# Every wait is a poll with a bound. Screenshots are taken of the window's client area (its own X
# window under wine), so the coordinates are the program's client coordinates.

here_lib=$(dirname "${BASH_SOURCE[0]}")
source "$here_lib/../../scripts/lib/sim.sh"
source "$here_lib/../../scripts/lib/checks.sh"
FAIL_STOPS=1  # each step builds on the one before: the first failure ends the script

WORK=$(mktemp -d /tmp/vexal-win32-XXXXXX)
XVFB_PID=
WINDOW_PID=
WINDOW_STATUS=
PASSED=0
POLL_STEP=0.1

cleanup() {
  local status=$?
  [ "$status" -ne 0 ] && echo "     (work folder: $WORK; set VEXAL_KEEP_WORK=1 to keep it)"
  [ -n "$WINDOW_PID" ] && kill "$WINDOW_PID" 2>/dev/null
  sim_stop
  if [ -n "$XVFB_PID" ]; then
    # The wineserver's desktop lives on this display: ended with it, as it would not end on its own.
    win32_stop
    kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  fi
  [ -n "${VEXAL_KEEP_WORK:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

pass() {
  echo "PASS $*"
  PASSED=$((PASSED + 1))
}

require_tools() {
  win32_pick_wine || exit 1
  local t
  for t in "$@"; do
    [ "$t" = wine_ok ] && continue
    command -v "$t" >/dev/null || { echo "missing tool: $t (scripts/install-deps.sh --win32)"; exit 1; }
  done
}

# poll TENTHS COMMAND...: runs COMMAND every tenth of a second until it succeeds; false after TENTHS.
poll() {
  local n=$1
  shift
  for _ in $(seq "$n"); do
    "$@" && return 0
    sleep "$POLL_STEP"
  done
  return 1
}

start_xvfb() {
  local d
  for d in $(seq 90 130); do
    [ -e "/tmp/.X$d-lock" ] || [ -e "/tmp/.X11-unix/X$d" ] && continue
    Xvfb ":$d" -screen 0 800x600x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 9>&- &
    XVFB_PID=$!
    export DISPLAY=":$d"
    poll 100 xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    kill "$XVFB_PID" 2>/dev/null
  done
  fail "Xvfb does not start"
}

# start_sim [simulator options...]: a fresh board on $WORK/com1, COM1 pointed at it.
start_sim() {
  sim_start "$SIM" "$WORK/com1" "$WORK/sim.out" "$WORK/sim.err" "$@" || fail "the simulator did not come up"
  win32_point_com1 "$WORK/com1"
}

# Nothing but the simulator holds the pseudo-terminal any more (wine's server lets go of a port a
# little after the program has ended).
pty_released() {
  local pty
  pty=$(readlink -f "$WORK/com1")
  ! find /proc/[0-9]*/fd -maxdepth 1 -lname "$pty" 2>/dev/null | grep -qv "^/proc/$SIM_PID/"
}

# stop_sim: waits until wine has let go of the port, then ends the board (which writes its dump).
stop_sim() {
  poll 100 pty_released || echo "note: wine still holds the port"
  sim_stop
}

start_window() {
  (cd "$WORK" && exec "$WINE" "$BIN/vexal.exe" "$@" </dev/null >"$WORK/window.out" 2>&1 9>&-) &
  WINDOW_PID=$!
}

window_ended() { ! kill -0 "$WINDOW_PID" 2>/dev/null; }

# wait_window_end SECONDS: the process status in WINDOW_STATUS.
wait_window_end() {
  poll $(($1 * 10)) window_ended || return 1
  wait "$WINDOW_PID"
  WINDOW_STATUS=$?
  WINDOW_PID=
}

# wait_for_window NAME_REGEX SECONDS: prints the X window's id.
wait_for_window() {
  local id=
  for _ in $(seq $(($2 * 10))); do
    id=$(xdotool search --name "$1" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep "$POLL_STEP"
  done
  return 1
}

shot() { import -window "$1" "$2" 2>/dev/null; }

# mean_of PNG GEOMETRY: the mean brightness (0 black .. 1 white) of a part of the image.
mean_of() { convert "$1" -crop "$2" +repage -colorspace gray -format '%[fx:mean]' info: 2>/dev/null; }

below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

deviation_of() { convert "$1" -crop "$2" +repage -colorspace gray -format '%[fx:standard_deviation]' info: 2>/dev/null; }

expect_dark() {  # PNG GEOMETRY WHAT: something is drawn there (text on a plain ground)
  local sd
  sd=$(deviation_of "$1" "$2")
  below 0.05 "$sd" || fail "$3: nothing drawn (deviation $sd)"
}

expect_plain() {  # PNG GEOMETRY WHAT: one flat colour there
  local sd
  sd=$(deviation_of "$1" "$2")
  below "$sd" 0.01 || fail "$3: not plain (deviation $sd)"
}

# The left end of the bar is filled: the bar has taken a position.
bar_has_moved() {
  shot "$1" "$WORK/poll.png" || return 1
  local m
  m=$(mean_of "$WORK/poll.png" "$BAR_START")
  below "$m" 0.8
}

# text_bands PNG: the number of text lines in the console area. A row is dark when any glyph touches
# it; a line is a run of at least 4 dark rows, lines are apart by at least 2 light rows (a descender
# and the next line's ascender leave 3).
text_bands() {
  convert "$1" -crop "$CONSOLE" +repage -colorspace gray -scale "1x${CONSOLE_HEIGHT}!" -depth 8 txt:- 2>/dev/null |
    awk -F'[(),]' '
      function close_band() { if (rows >= 4) n++; rows = 0 }
      NR > 1 { if ($3 + 0 < 253) { if (light >= 2) close_band(); rows++; light = 0 } else light++ }
      END { close_band(); print n + 0 }'
}

# expect_bands PNG COUNT WHAT: the console shows COUNT lines of text.
expect_bands() {
  local got
  got=$(text_bands "$1")
  [ "$got" -eq "$2" ] || fail "$3: $got text lines, expected $2"
}

# settled_shot WINDOW PNG BANDS: a shot taken once the console shows BANDS lines of text, or the last
# one after 10 s; the checks that follow judge it. The window redraws on a 200 ms tick, and on a loaded
# machine wine can take several ticks to repaint (a blank console while the bar has moved, or the end
# box's old place still black after it was moved aside, were both seen).
settled_shot() {
  for _ in $(seq 50); do
    shot "$1" "$2" && [ "$(text_bands "$2")" -eq "$3" ] && return 0
    sleep 0.2
  done
}

dismiss() { xdotool key --window "$1" Return 2>/dev/null; }

# Moves the end box off the window, so a shot of the window shows the console alone.
move_aside() { xdotool windowmove "$1" 640 500 2>/dev/null; }

close_window() {
  xdotool windowfocus "$1" 2>/dev/null
  xdotool key alt+F4 2>/dev/null
}
