#!/usr/bin/env bash
# A throw-away PostgreSQL cluster on loopback for the host database tests.
#
#   pg-test-server.sh start   creates and starts it; prints export lines
#                             (eval "$(pg-test-server.sh start)") and writes
#                             them to $DIR/env
#   pg-test-server.sh stop    stops it and removes its directory
#
# The role's password is random, reaches the server on standard input only
# and is kept in a passfile of mode 0600. Run as root, the server runs as the
# `postgres` user (the server refuses root).
set -euo pipefail

PORT=${PZ_PG_TEST_PORT:-5439}
DIR=${PZ_PG_TEST_DIR:-${TMPDIR:-/tmp}/pz-pgtest-$PORT}
BIN=${PZ_PG_BIN:-/usr/lib/postgresql/15/bin}
ROLE=pzhost
DB=pzhost
SERVER_USER=postgres

as_server() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u "$SERVER_USER" -- "$@"
  else
    "$@"
  fi
}

print_env() {
  cat "$DIR/env"
}

running() {
  [ -f "$DIR/data/PG_VERSION" ] && as_server "$BIN/pg_ctl" -D "$DIR/data" status >/dev/null 2>&1
}

start() {
  if [ ! -x "$BIN/initdb" ] || [ ! -x "$BIN/pg_ctl" ]; then
    # No server to offer: the tests that need one say so and skip.
    echo "pg-test-server: no PostgreSQL binaries in $BIN; server tests will skip" >&2
    return 0
  fi
  if running && [ -f "$DIR/env" ]; then
    print_env
    return 0
  fi
  stop_quietly
  mkdir -p "$DIR"
  chmod 0755 "$DIR"
  mkdir -p "$DIR/data" "$DIR/sock"
  chmod 0700 "$DIR/data"
  if [ "$(id -u)" = 0 ]; then chown "$SERVER_USER" "$DIR/data" "$DIR/sock"; fi

  as_server "$BIN/initdb" -D "$DIR/data" -U postgres --auth-local=trust \
    --auth-host=scram-sha-256 -E UTF8 --no-locale >"$DIR/initdb.log" 2>&1 || {
    cat "$DIR/initdb.log" >&2
    exit 1
  }
  as_server "$BIN/pg_ctl" -D "$DIR/data" -l "$DIR/data/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -c port=$PORT -c unix_socket_directories=$DIR/sock -c fsync=off -c max_connections=160" \
    start >/dev/null || {
    cat "$DIR/data/server.log" >&2
    exit 1
  }

  local password
  password=$(od -An -N18 -tx1 /dev/urandom | tr -d ' \n')
  # The password travels on standard input, never on a command line.
  as_server "$BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$DIR/sock" -p "$PORT" \
    -U postgres -d postgres >/dev/null <<SQL
CREATE ROLE $ROLE LOGIN CREATEDB PASSWORD '$password';
CREATE DATABASE $DB OWNER $ROLE;
SQL
  (umask 077 && printf '127.0.0.1:%s:*:%s:%s\n' "$PORT" "$ROLE" "$password" >"$DIR/pgpass")
  chmod 0600 "$DIR/pgpass"
  cat >"$DIR/env" <<ENV
export PZ_TEST_PG_CONNINFO="host=127.0.0.1 port=$PORT dbname=$DB user=$ROLE"
export PZ_TEST_PG_PASSFILE="$DIR/pgpass"
ENV
  print_env
}

stop_quietly() {
  if [ -f "$DIR/data/PG_VERSION" ]; then
    as_server "$BIN/pg_ctl" -D "$DIR/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
  fi
  rm -rf "$DIR"
}

case "${1:-}" in
  start) start ;;
  stop) stop_quietly ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
