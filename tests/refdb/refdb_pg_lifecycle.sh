#!/usr/bin/env bash
# db/refdb pg's own behaviour on a private PostgreSQL server of this test (own
# state directory, own port): a fresh start, a second start that changes
# nothing, the settings and logins the kit relies on, status codes, stop, and
# the refusals that must say what to do.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
refdb=("$repo/db/refdb" pg)
state=$(mktemp -d /tmp/acidkit-refdb-pg-test.XXXXXX)
chmod 755 "$state"
export ACIDKIT_PG_STATE=$state
export ACIDKIT_PG_PORT=${REFDB_PG_TEST_PORT:-25452}
export ACIDKIT_PG_SHARED_BUFFERS=128MB
unset ODBCSYSINI ODBCINI

failures=0
helpers=()
fail() {
  printf 'FAIL: %s\n' "$1"
  [[ -n ${2:-} ]] && printf '%s\n' "$2" | sed 's/^/    /'
  failures=$((failures + 1))
}
cleanup() {
  "${refdb[@]}" stop >/dev/null 2>&1
  local pid
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$state"
}
trap cleanup EXIT

# expect STATUS PATTERN COMMAND...: runs COMMAND, checks its exit status and
# that its output matches the extended regular expression PATTERN.
expect() {
  local want=$1 pattern=$2 out rc
  shift 2
  out=$("$@" 2>&1)
  rc=$?
  if [[ $rc != "$want" ]]; then
    fail "'$*' exited $rc, expected $want" "$out"
  elif ! grep -Eq -- "$pattern" <<<"$out"; then
    fail "'$*' printed no line matching /$pattern/" "$out"
  fi
}

if [[ -n $(ss -Hltn "sport = :$ACIDKIT_PG_PORT" 2>/dev/null) ]]; then
  echo "port $ACIDKIT_PG_PORT is taken; set REFDB_PG_TEST_PORT to a free port"
  exit 1
fi

# Stopped server: status 3, stop harmless, database commands say to start.
expect 3 'server: +stopped' "${refdb[@]}" status
expect 0 'not running' "${refdb[@]}" stop
expect 1 'run: db/refdb pg start' "${refdb[@]}" procedures locking

# Fresh start, then a start that finds it running.
expect 0 'server up in' "${refdb[@]}" start
expect 0 'already running' "${refdb[@]}" start
expect 0 'server: +running' "${refdb[@]}" status
expect 0 "127.0.0.1:$ACIDKIT_PG_PORT" "${refdb[@]}" status

# Settings the kit relies on, and the statement texts' helpers in its database.
expect 0 '^3min\|off\|127.0.0.1$' "${refdb[@]}" sql -At -c \
  "SELECT current_setting('lock_timeout') || '|' || current_setting('synchronous_commit') || '|' || current_setting('listen_addresses')"
expect 0 '^2024-05-06 07:08:09\|x$' "${refdb[@]}" sql --db acidkit -At -c \
  "CREATE TEMP TABLE t (d TIMESTAMP(0)); INSERT INTO t VALUES (SUBSTR(CAST('2024-05-06 07:08:09.5' AS VARCHAR), 1, 19)); SELECT d || '|' || NVL2(d, 'x', 'y') FROM t"

# The kit's login needs its password over TCP, owns the kit's databases, and
# may not reach the administrator's.
user_sql() { PGPASSWORD=$1 psql -X -h 127.0.0.1 -p "$ACIDKIT_PG_PORT" -U acidtest "${@:2}"; }
expect 0 '^acidtest$' user_sql 58274613 -d acidkit -At -c 'SELECT current_user'
expect 2 'password authentication failed' user_sql wrong -d acidkit -c 'SELECT 1'
expect 2 'permission denied' user_sql 58274613 -d postgres -c 'SELECT 1'
expect 0 '^acidtest$' "${refdb[@]}" sql -At -c \
  "SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = 'acidkit'"

# Private data source files, with TESTDB naming the database asked for.
expect 0 "export ODBCSYSINI=$state/odbc" "${refdb[@]}" env
expect 0 '^\[TESTDB\]$' env ODBCSYSINI="$state/odbc" ODBCINI="$state/odbc/odbc.ini" odbcinst -q -s
expect 0 '^Dialect *= *postgresql$' cat "$state/odbc/odbcinst.ini"
mkdir -p "$state/side"
expect 0 "export ODBCINI=$state/side/odbc.ini" "${refdb[@]}" odbcini acidkit_lifecycle "$state/side"
expect 0 "^Database *= *acidkit_lifecycle$" cat "$state/side/odbc.ini"
expect 0 "^Port *= *$ACIDKIT_PG_PORT$" cat "$state/side/odbc.ini"

# Refusals.
expect 1 'refusing to drop' "${refdb[@]}" drop-db acidkit
expect 1 'not allowed' "${refdb[@]}" drop-db postgres
expect 1 'not allowed' "${refdb[@]}" odbcini 'x;y' "$state/side"
expect 1 'does not exist' "${refdb[@]}" procedures locking --db acidkit_nosuchdb
expect 1 'unknown procedure set' "${refdb[@]}" procedures nonlocking --db acidkit
expect 1 'usage' "${refdb[@]}" load many
expect 2 'usage' "${refdb[@]}"
expect 0 'procedures locking\|snapshot' "${refdb[@]}" --help

# Stop; a second stop is harmless; a restart reuses the data directory.
expect 0 'stopped' "${refdb[@]}" stop
expect 3 'server: +stopped' "${refdb[@]}" status
expect 0 'not running' "${refdb[@]}" stop
expect 0 'server up in' "${refdb[@]}" start
expect 0 'stopped' "${refdb[@]}" stop

# A pid file that names someone else's process: neither running nor stopped.
sleep 300 &
helpers+=($!)
echo "${helpers[-1]}" >"$state/data/postmaster.pid"
expect 3 'stopped' "${refdb[@]}" status
expect 0 'not running' "${refdb[@]}" stop
kill -0 "${helpers[-1]}" 2>/dev/null || fail "db/refdb pg stop ended a process it did not start"
rm -f "$state/data/postmaster.pid"

# A port held by another program.
python3 -c '
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(); time.sleep(300)' "$ACIDKIT_PG_PORT" &
helpers+=($!)
for _ in $(seq 50); do [[ -n $(ss -Hltn "sport = :$ACIDKIT_PG_PORT") ]] && break; sleep 0.1; done
expect 1 "port $ACIDKIT_PG_PORT on 127.0.0.1 is in use by python3" "${refdb[@]}" start
kill "${helpers[-1]}"

# PostgreSQL not installed where the script looks.
expect 1 'run: db/refdb pg install' env ACIDKIT_PG_BIN=/nonexistent "${refdb[@]}" start

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all db/refdb pg lifecycle checks passed"
