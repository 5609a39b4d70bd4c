# A PostgreSQL 15 server of a test's or bench's own, sourced by bash: made with initdb in a scratch folder
# as an unprivileged user (made when missing: the server refuses to run as root), its socket in that
# folder, on a free port of the loopback, stopped by pg_end.
#
#   pg_begin     starts it; sets PG_URL (postgresql://vexal@127.0.0.1:PORT/postgres). Returns 1, saying
#                "SKIP: ..." when the server's programs are absent, or why it could not start.
#   pg_pause     stops it (the folder stays); pg_resume starts it again on the same port
#   pg_end       stops it and removes its folder
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
PG_USER=vexal-pgtest
PG_DIR=
PG_PORT=
PG_URL=

pg_as_user() { if [[ $(id -u) == 0 ]]; then runuser -u "$PG_USER" -- "$@"; else "$@"; fi; }

pg_begin() {
  [[ -x $PG_BIN/initdb && -x $PG_BIN/pg_ctl ]] || { echo "SKIP: no PostgreSQL 15 server programs in $PG_BIN"; return 1; }
  if [[ $(id -u) == 0 ]]; then
    id -u "$PG_USER" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$PG_USER"
  else
    PG_USER=$(id -un)
  fi
  PG_DIR=$(mktemp -d /tmp/vexal-pg-XXXXXX)
  chown "$PG_USER" "$PG_DIR"
  chmod 755 "$PG_DIR"
  PG_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  pg_as_user "$PG_BIN/initdb" -D "$PG_DIR/data" -U vexal -A trust --no-sync >"$PG_DIR/initdb.log" 2>&1 ||
    { echo "initdb failed: $(tail -3 "$PG_DIR/initdb.log")"; return 1; }
  pg_resume || return 1
  PG_URL="postgresql://vexal@127.0.0.1:$PG_PORT/postgres"
}

pg_resume() {
  pg_as_user "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
    -o "-k $PG_DIR -p $PG_PORT -c listen_addresses=127.0.0.1" start >/dev/null ||
    { echo "PostgreSQL did not start: $(tail -3 "$PG_DIR/server.log")"; return 1; }
}

pg_pause() {
  [[ -n $PG_DIR ]] && pg_as_user "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1
  return 0
}

pg_end() {
  pg_pause
  [[ -n $PG_DIR ]] && rm -rf "$PG_DIR"
  PG_DIR=
}
