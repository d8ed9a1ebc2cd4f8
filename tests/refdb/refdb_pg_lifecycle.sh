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

# shellcheck source=tests/support/checks.sh
source "$repo/tests/support/checks.sh"
# shellcheck source=tests/refdb/lifecycle.sh
source "$repo/tests/refdb/lifecycle.sh"
lifecycle_setup "$ACIDKIT_PG_PORT" "${refdb[@]}"

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
# ... and the refusals.
shared_checks "$ACIDKIT_PG_PORT" postgres "${refdb[@]}"
expect 1 'unknown procedure set' "${refdb[@]}" procedures nonlocking --db acidkit
expect 0 'procedures locking\|snapshot' "${refdb[@]}" --help

# Stop; a second stop is harmless; a restart reuses the data directory.
expect 0 'stopped' "${refdb[@]}" stop
expect 3 'server: +stopped' "${refdb[@]}" status
expect 0 'not running' "${refdb[@]}" stop
expect 0 'server up in' "${refdb[@]}" start
expect 0 'stopped' "${refdb[@]}" stop

# A pid file that names someone else's process: neither running nor stopped.
foreign_pid "$state/data/postmaster.pid"
expect 3 'stopped' "${refdb[@]}" status
expect 0 'not running' "${refdb[@]}" stop
kill -0 "${helpers[-1]}" 2>/dev/null || fail "db/refdb pg stop ended a process it did not start"
rm -f "$state/data/postmaster.pid"

# A port held by another program.
hold_port "$ACIDKIT_PG_PORT"
expect 1 "port $ACIDKIT_PG_PORT on 127.0.0.1 is in use by python3" "${refdb[@]}" start
kill "${helpers[-1]}"

# PostgreSQL not installed where the script looks.
expect 1 'run: db/refdb pg install' env ACIDKIT_PG_BIN=/nonexistent "${refdb[@]}" start

finish_checks "all db/refdb pg lifecycle checks passed"
