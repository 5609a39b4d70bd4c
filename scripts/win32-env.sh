# Sourced by the other win32-*.sh scripts: the wine loader, the cached prefix, and COM1's mapping.
#
# The prefix is made once and kept outside the work tree (VEXAL_WINE_CACHE, default
# ~/.cache/vexal-wine). COM1 is mapped through the registry (HKLM\Software\Wine\Ports), because wine
# rewrites the dosdevices links from there at every start. The registry names a fixed path,
# $VEXAL_WINE_CACHE/com1, and each run points that symbolic link at its own pseudo-terminal: the
# registry is read only when the wineserver starts, a link is followed at every open.
#
# Runs that share the prefix take $VEXAL_WINE_CACHE/lock (win32_lock), since COM1 is one link.

VEXAL_WINE_CACHE=${VEXAL_WINE_CACHE:-$HOME/.cache/vexal-wine}
export WINEPREFIX=${WINEPREFIX:-$VEXAL_WINE_CACHE/prefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
VEXAL_COM1_LINK=$VEXAL_WINE_CACHE/com1
VEXAL_COM2_LINK=$VEXAL_WINE_CACHE/com2

# Debian's /usr/bin/wine prefers the 32-bit loader, which cannot run where the kernel has no 32-bit
# support; our programs are 64-bit, so fall back to the 64-bit loader directly.
win32_pick_wine() {
  if [ -n "${WINE:-}" ]; then return; fi
  if wine --version >/dev/null 2>&1; then
    WINE=wine
  elif [ -x /usr/lib/wine/wine64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=/usr/lib/wine/wine64
  elif command -v wine64 >/dev/null 2>&1; then
    WINE=wine64
  else
    echo "Error: wine is not installed (scripts/install-deps.sh --win32)" >&2
    return 1
  fi
  export WINE
}

win32_lock() {
  mkdir -p "$VEXAL_WINE_CACHE"
  exec 9>"$VEXAL_WINE_CACHE/lock"
  flock 9
}

# Creates the prefix with COM1 mapped to the link, once; a prefix without the mapping is mended.
win32_prefix() {
  win32_pick_wine || return 1
  mkdir -p "$VEXAL_WINE_CACHE"
  local stamp=$VEXAL_WINE_CACHE/prefix.ready
  if [ -f "$stamp" ] && [ -f "$WINEPREFIX/system.reg" ] && grep -qF "\"COM2\"=\"$VEXAL_COM2_LINK\"" "$WINEPREFIX/system.reg"; then
    return 0
  fi
  echo "Creating the wine prefix $WINEPREFIX (once)" >&2
  "$WINE" wineboot -i >/dev/null 2>&1 || { echo "Error: wineboot failed" >&2; return 1; }
  local com
  for com in COM1 COM2; do
    local link=$VEXAL_COM1_LINK
    [ "$com" = COM2 ] && link=$VEXAL_COM2_LINK
    "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "$com" /t REG_SZ /d "$link" /f >/dev/null 2>&1 ||
      { echo "Error: can't map $com in the wine registry" >&2; return 1; }
  done
  # The mapping is read when the wineserver starts: end this one so the next start sees it.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  touch "$stamp"
}

# Points COM1 (and COM2) at a path: a pseudo-terminal, or a path that does not exist, and the port
# then can't be opened. COM2 stands nowhere unless asked for.
win32_point_com1() {
  ln -sfn "$1" "$VEXAL_COM1_LINK"
  ln -sfn "${2:-$VEXAL_WINE_CACHE/no-com2}" "$VEXAL_COM2_LINK"
}

# Starts the wineserver and wine's services detached from the caller's descriptors: a service started
# by the program itself would inherit its standard output (a caller reading that pipe to its end would
# wait for the service) and the lock. The server stays VEXAL_WINE_LINGER seconds after the last program,
# so a series of runs pays the start once.
win32_start() {
  wineserver -p "${VEXAL_WINE_LINGER:-15}" </dev/null >/dev/null 2>&1 9>&- || true
  "$WINE" wineboot </dev/null >/dev/null 2>&1 9>&- || { echo "Error: wine does not start" >&2; return 1; }
}

# Ends a running wineserver so that the next start belongs to this display. Wine's desktop process
# takes the display it is started with and keeps it for the server's life: a server left over from
# console runs without a display (or from another Xvfb) would show no window at all. Call it with the
# lock held, so no other run of ours is using that server.
win32_restart_on_display() {
  win32_stop
  win32_start
}

# Ends the wineserver and wine's services. Here they don't end on their own when the last program has
# gone (seen: servers still there 45 minutes later), so every script that starts them ends them.
win32_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
  wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
}
