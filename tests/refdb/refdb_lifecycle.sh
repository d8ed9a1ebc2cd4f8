#!/usr/bin/env bash
# db/refdb's own behaviour on a private server of this test (own state
# directory, own port, no system-wide ODBC files): a fresh start, a second
# start that changes nothing, status codes, stop, a crash and the recovery
# after it, the flush setting, and the refusals that must say what to do.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
refdb=$repo/db/refdb
# shellcheck source=tests/support/checks.sh
source "$repo/tests/support/checks.sh"
# shellcheck source=tests/refdb/lifecycle.sh
source "$repo/tests/refdb/lifecycle.sh"
private_mariadb_server refdb "${REFDB_TEST_PORT:-23316}" "$refdb"

# Stopped server: status 3, stop harmless, database commands say to start.
expect 3 'server: +stopped' "$refdb" status
expect 0 'not running' "$refdb" stop
expect 1 'run: db/refdb start' "$refdb" sql -e 'SELECT 1'
# A crash that did not happen must not look like one.
expect 1 'no server running .*nothing was killed' "$refdb" crash
expect 1 "ACIDKIT_FLUSH_LOG_AT_TRX_COMMIT='3' is not 0, 1 or 2" \
  env ACIDKIT_FLUSH_LOG_AT_TRX_COMMIT=3 "$refdb" start

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
expect 0 'flush: +innodb_flush_log_at_trx_commit=1$' "$refdb" status

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

# A crash: SIGKILL, the process gone, and the row committed just before the
# kill there after a start through InnoDB's recovery, which says how long it
# took.
"$refdb" sql -e 'CREATE DATABASE acidkit_crash; CREATE TABLE acidkit_crash.t (i INT PRIMARY KEY)'
"$refdb" sql -e 'INSERT INTO acidkit_crash.t VALUES (42)'
pid=$(<"$state/run/mysqld.pid")
expect 0 "killed mariadbd \\(pid $pid\\) with SIGKILL: no shutdown, no flush" "$refdb" crash
ps -o stat= -p "$pid" | grep -qv '^Z' && fail "mariadbd (pid $pid) still runs after db/refdb crash"
expect 3 'crashed: ' "$refdb" status
expect 0 '^refdb: recovered from the crash in [0-9]+\.[0-9] s \(from the kill to the first connection\)$' \
  "$refdb" start
[[ ! -e $state/run/crashed-at ]] || fail "the start after the crash left its marker behind"
expect 0 '^42$' "$refdb" sql -N -e 'SELECT i FROM acidkit_crash.t'
"$refdb" sql -e 'DROP DATABASE acidkit_crash'

# Stop; a second stop is harmless; status says stopped again.
expect 0 'stopped' "$refdb" stop
expect 3 'server: +stopped' "$refdb" status
expect 0 'not running' "$refdb" stop

# A restart reuses the data directory; this one without durable commits (the
# durability test's negative control), which a running server keeps.
expect 0 'server up in' env ACIDKIT_FLUSH_LOG_AT_TRX_COMMIT=0 "$refdb" start
expect 0 '^1$' "$refdb" sql -N -e 'SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = "acidkit"'
expect 0 '^0$' "$refdb" sql -N -e 'SELECT @@innodb_flush_log_at_trx_commit'
expect 0 'innodb_flush_log_at_trx_commit=0, not 1; stop it first' \
  env ACIDKIT_FLUSH_LOG_AT_TRX_COMMIT=1 "$refdb" start
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
