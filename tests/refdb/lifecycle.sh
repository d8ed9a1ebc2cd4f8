# The db/refdb lifecycle tests' own helpers, sourced by them after
# tests/support/checks.sh: a private server's setup and cleanup, the cases
# that need a process of their own, and the checks both servers' scripts share.
# shellcheck shell=bash

# pids of processes a test started for a case; the cleanup ends them.
# shellcheck disable=SC2034
helpers=()

# lifecycle_setup PORT COMMAND...: refuses to start when PORT is taken, and
# makes the test end by running COMMAND stop, ending its helper processes and
# removing $state, however it ends.
lifecycle_setup() {
  local port=$1
  shift
  if [[ -n $(ss -Hltn "sport = :$port" 2>/dev/null) ]]; then
    echo "port $port is taken; choose a free port for this test (see its environment)"
    exit 1
  fi
  server_command=("$@")
  trap lifecycle_cleanup EXIT
}
lifecycle_cleanup() {
  "${server_command[@]}" stop >/dev/null 2>&1
  local pid
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "${state:?}"
}

# private_mariadb_server NAME PORT REFDB: db/refdb's environment for a private
# server of the test on PORT, with a state directory of its own in $state, no
# system-wide ODBC files, a small buffer pool and the durable flush default;
# stopped and removed however the test ends.
private_mariadb_server() {
  state=$(mktemp -d "/tmp/acidkit-$1-test.XXXXXX")
  chmod 755 "$state"
  # Before the cleanup is set up: its stop must never reach another server.
  export ACIDKIT_STATE=$state ACIDKIT_PORT=$2 ACIDKIT_ODBC_SYSTEM=0 ACIDKIT_BUFFER_POOL=256M
  unset ODBCSYSINI ODBCINI ACIDKIT_FLUSH_LOG_AT_TRX_COMMIT
  lifecycle_setup "$2" "$3"
}

# foreign_pid FILE: writes the pid of a process of this test's own into the
# server's pid file, as a pid file left behind and reused would name it.
foreign_pid() {
  sleep 300 &
  helpers+=($!)
  echo "${helpers[-1]}" >"$1"
}

# hold_port PORT: another program listens on PORT until the test ends.
hold_port() {
  python3 -c '
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(); time.sleep(300)' "$1" &
  helpers+=($!)
  local _
  for _ in $(seq 50); do [[ -n $(ss -Hltn "sport = :$1") ]] && return; sleep 0.1; done
}

# shared_checks PORT SYSTEM_DB COMMAND...: what both servers' scripts must do
# alike: a side pair of data source files naming another database, and the
# refusals of names and arguments that are not the kit's.
shared_checks() {
  local port=$1 system_db=$2
  shift 2
  mkdir -p "$state/side"
  expect 0 "export ODBCINI=$state/side/odbc.ini" "$@" odbcini acidkit_lifecycle "$state/side"
  expect 0 "^Database *= *acidkit_lifecycle$" cat "$state/side/odbc.ini"
  expect 0 "^Port *= *$port$" cat "$state/side/odbc.ini"
  expect 1 'refusing to drop' "$@" drop-db acidkit
  expect 1 'not allowed' "$@" drop-db "$system_db"
  expect 1 'not allowed' "$@" odbcini 'x;y' "$state/side"
  expect 1 'does not exist' "$@" procedures locking --db acidkit_nosuchdb
  expect 1 'unknown procedure set' "$@" procedures sometimes --db acidkit
  expect 1 'usage' "$@" load many
  expect 2 'usage' "$@"
}
