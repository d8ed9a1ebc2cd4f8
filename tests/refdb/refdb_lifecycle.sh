#!/usr/bin/env bash
# db/refdb's own behaviour on a private server of this test (own state
# directory, own port, no system-wide ODBC files): a fresh start, a second
# start that changes nothing, status codes, stop, and the refusals that must
# say what to do.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
refdb=$repo/db/refdb
# shellcheck source=tests/support/checks.sh
source "$repo/tests/support/checks.sh"
state=$(mktemp -d /tmp/acidkit-refdb-test.XXXXXX)
chmod 755 "$state"
export ACIDKIT_STATE=$state
export ACIDKIT_PORT=${REFDB_TEST_PORT:-23316}
export ACIDKIT_ODBC_SYSTEM=0
export ACIDKIT_BUFFER_POOL=256M
unset ODBCSYSINI ODBCINI

# shellcheck source=tests/refdb/lifecycle.sh
source "$repo/tests/refdb/lifecycle.sh"
lifecycle_setup "$ACIDKIT_PORT" "$refdb"

# Stopped server: status 3, stop harmless, database commands say to start.
expect 3 'server: +stopped' "$refdb" status
expect 0 'not running' "$refdb" stop
expect 1 'run: db/refdb start' "$refdb" sql -e 'SELECT 1'

# Fresh start, then a start that finds it running.
start=$(date +%s%N)
expect 0 'server up in' "$refdb" start
echo "fresh start (initialise and start): $((($(date +%s%N) - start) / 1000000)) ms"
expect 0 'already running' "$refdb" start
expect 0 'server: +running' "$refdb" status
expect 0 "127.0.0.1:$ACIDKIT_PORT" "$refdb" status

# Settings the kit relies on.
expect 0 $'PIPES_AS_CONCAT.*\t180\t1\t127.0.0.1' "$refdb" sql -N -e \
  'SELECT @@sql_mode, @@innodb_lock_wait_timeout, @@local_infile, @@bind_address'

# The kit's user exists with its password and reaches acidkit and acidkit_*
# alone, over TCP as well as the socket.
user_sql() { mariadb --protocol=tcp -h 127.0.0.1 -P "$ACIDKIT_PORT" -u acidtest -p58274613 "$@"; }
expect 0 '^acidkit$' user_sql -N -e 'SHOW DATABASES LIKE "acidkit"'
"$refdb" sql -e 'CREATE DATABASE acidkit_lifecycle; CREATE DATABASE other_lifecycle'
expect 0 'ok' user_sql -N acidkit_lifecycle -e 'CREATE TABLE t (i INT); SELECT "ok"'
expect 1 'denied' user_sql -N other_lifecycle -e 'SELECT 1'
"$refdb" sql -e 'DROP DATABASE other_lifecycle'

# Private data source files, with TESTDB naming the database asked for.
expect 0 "export ODBCSYSINI=$state/odbc" "$refdb" env
expect 0 '^\[TESTDB\]$' env ODBCSYSINI="$state/odbc" ODBCINI="$state/odbc/odbc.ini" odbcinst -q -s
expect 0 '^\[acidkit\]$' env ODBCSYSINI="$state/odbc" odbcinst -q -d
# ... and the refusals.
shared_checks "$ACIDKIT_PORT" mysql "$refdb"
expect 0 'dropped acidkit_lifecycle' "$refdb" drop-db acidkit_lifecycle
expect 0 'usage' "$refdb" --help

# Stop; a second stop is harmless; status says stopped again.
expect 0 'stopped' "$refdb" stop
expect 3 'server: +stopped' "$refdb" status
expect 0 'not running' "$refdb" stop

# A restart reuses the data directory.
expect 0 'server up in' "$refdb" start
expect 0 '^1$' "$refdb" sql -N -e 'SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = "acidkit"'
expect 0 'stopped' "$refdb" stop

# A pid file that names someone else's process: neither running nor stopped.
foreign_pid "$state/run/mysqld.pid"
expect 3 'stopped' "$refdb" status
expect 0 'not running' "$refdb" stop
kill -0 "${helpers[-1]}" 2>/dev/null || fail "db/refdb stop ended a process it did not start"

# A port held by another program.
hold_port "$ACIDKIT_PORT"
expect 1 "port $ACIDKIT_PORT on 127.0.0.1 is in use by python3" "$refdb" start
kill "${helpers[-1]}"

# A missing program, and a disk without room for a new data directory.
expect 1 'run: db/refdb install' env PATH=/usr/bin:/bin "$refdb" start
rm -rf "$state/data"
expect 1 "MB free on the disk of $state" env ACIDKIT_MIN_FREE_MB=999999999 "$refdb" start
[[ ! -e $state/data ]] || fail "a refused start left a data directory behind"

finish_checks "all db/refdb lifecycle checks passed"
