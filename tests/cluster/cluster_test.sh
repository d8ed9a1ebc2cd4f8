#!/usr/bin/env bash
# db/refdb cluster on a private three-node cluster of the tests (own state
# directory, own ports, no system-wide ODBC files), in three steps that CTest
# runs as a fixture:
#   up                         start the cluster, load, join by state transfer
#   isolation TOPOLOGY N WORD  isolationN through that listener: verdict WORD
#   node-failure               a node killed during an isolation test
#   down                       stop, restart from the node stopped last, stop
# Environment: CLUSTER_TEST_STATE (state directory), CLUSTER_TEST_PORT (base
# port), ACIDKIT_BUILD (the build whose programs and loader are used),
# CLUSTER_TEST_WAREHOUSES (the build's warehouse count).
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
refdb=$repo/db/refdb
# shellcheck source=tests/support/checks.sh
source "$repo/tests/support/checks.sh"

export ACIDKIT_CLUSTER_STATE=${CLUSTER_TEST_STATE:?the state directory of the test cluster}
export ACIDKIT_CLUSTER_PORT=${CLUSTER_TEST_PORT:-23380}
export ACIDKIT_ODBC_SYSTEM=0
export ACIDKIT_BUFFER_POOL=256M
warehouses=${CLUSTER_TEST_WAREHOUSES:-2}
nodes=3
unset ODBCSYSINI ODBCINI
bin=${ACIDKIT_BUILD:?the build folder}/bin

node_port() { echo $((ACIDKIT_CLUSTER_PORT + 4 * $1)); }
node_sql() {
  local node=$1
  shift
  mariadb --defaults-file="$ACIDKIT_CLUSTER_STATE/node$node/my.cnf" -N -B "$@"
}
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

# One pair of ODBC files with TESTDB on node $1 alone, for checks node by node.
node_odbc() {
  local dir=$ACIDKIT_CLUSTER_STATE/odbc-node$1
  mkdir -p "$dir"
  cp "$ACIDKIT_CLUSTER_STATE/odbc-multi-writer/odbcinst.ini" "$dir/"
  sed "s/^Port *=.*/Port        = $(node_port "$1")/" \
    "$ACIDKIT_CLUSTER_STATE/odbc-multi-writer/odbc.ini" >"$dir/odbc.ini"
  echo "$dir"
}

# consist passes on node $1 alone.
consist_on_node() {
  local dir
  dir=$(node_odbc "$1")
  expect 0 '^All consistency tests passed$' env ODBCSYSINI="$dir" ODBCINI="$dir/odbc.ini" "$bin/consist"
}

# Every node holds the same rows in database $1.
expect_same_data() {
  local db=$1 node sums=() tables="WAREHOUSE, DISTRICT, CUSTOMER, HISTORY, NEW_ORDER, ORDERS, ORDER_LINE, ITEM, STOCK"
  for ((node = 1; node <= nodes; node++)); do
    sums[node]=$(node_sql "$node" "$db" -e "CHECKSUM TABLE $tables" 2>&1)
  done
  for ((node = 2; node <= nodes; node++)); do
    [[ ${sums[node]} == "${sums[1]}" ]] ||
      fail "node $node holds other rows in $db than node 1" "${sums[1]}"$'\n'"${sums[node]}"
  done
}

step_up() {
  # A cluster left by an earlier, interrupted run is stopped and forgotten.
  "$refdb" cluster stop >/dev/null 2>&1
  rm -rf "$ACIDKIT_CLUSTER_STATE"
  local port
  for port in $(seq "$ACIDKIT_CLUSTER_PORT" $((ACIDKIT_CLUSTER_PORT + 4 * nodes + 3))); do
    if [[ -n $(ss -Hltn "sport = :$port" 2>/dev/null) ]]; then
      echo "port $port is taken; set CLUSTER_TEST_PORT to a free range of $((4 * nodes + 4)) ports"
      return 1
    fi
  done
  mkdir -p "$ACIDKIT_CLUSTER_STATE"
  chmod 755 "$ACIDKIT_CLUSTER_STATE"

  expect 3 'node 1: +stopped' "$refdb" cluster status
  expect 1 'run: db/refdb cluster up' "$refdb" cluster env multi-writer
  expect 1 'usage' "$refdb" cluster up 10
  expect 2 'usage' "$refdb" cluster
  expect 1 "unknown cluster command 'sideways'" "$refdb" cluster sideways
  expect 1 'ACIDKIT_CLUSTER_PORT must be a number' env ACIDKIT_CLUSTER_PORT=65500 "$refdb" cluster up

  local start
  start=$(date +%s%N)
  expect 0 "cluster of $nodes node\(s\) up" "$refdb" cluster up "$nodes"
  echo "cluster start ($nodes nodes, 2 joins by state transfer): $(ms_since "$start") ms"
  expect 0 "node 3: +running .* Synced, cluster size $nodes" "$refdb" cluster status
  expect 0 'already running' "$refdb" cluster up
  expect 1 'cannot change to 2' "$refdb" cluster up 2
  # Refused loads stop no node.
  expect 1 'usage' "$refdb" cluster load many
  expect 1 'not allowed' "$refdb" cluster load 1 --db other
  expect 0 "node 3: +running .* Synced" "$refdb" cluster status

  # One warehouse into node 1 alone; the others receive it by full state
  # transfer (rsync), not by replaying the load.
  start=$(date +%s%N)
  expect 0 'state transfer to 2 node' "$refdb" cluster load 1 --db acidkit_lifecycle
  echo "load of 1 warehouse and state transfer: $(ms_since "$start") ms"
  local node
  for ((node = 2; node <= nodes; node++)); do
    expect 0 "rsync SST completed on joiner" cat "$ACIDKIT_CLUSTER_STATE/node$node/log/mariadbd.err"
    expect 0 '^1$' node_sql "$node" -e 'SELECT COUNT(*) FROM acidkit_lifecycle.WAREHOUSE'
    expect 0 '^acidkit locking$' node_sql "$node" -e "SELECT ROUTINE_COMMENT FROM
      information_schema.ROUTINES WHERE ROUTINE_SCHEMA = 'acidkit_lifecycle' AND ROUTINE_NAME = 'getOrderID'"
  done
  expect_same_data acidkit_lifecycle
  expect 0 '^Synced	3$' node_sql 3 -e "SELECT
    (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_LOCAL_STATE_COMMENT'),
    (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_SIZE')"
  node_sql 1 -e 'DROP DATABASE acidkit_lifecycle'

  # The database of the isolation tests, in the build's warehouse range.
  expect 0 'state transfer to 2 node' "$refdb" cluster load "$warehouses"

  # Each listener's data source names its topology and nodes.
  local topology
  for topology in single-writer multi-writer; do
    expect 0 "ODBCINI=$ACIDKIT_CLUSTER_STATE/odbc-$topology/odbc.ini" "$refdb" cluster env "$topology"
    expect 0 "^Description = acidkit cluster, $topology: HAProxy 127.0.0.1:[0-9]+ .*:$(node_port 3)$" \
      cat "$ACIDKIT_CLUSTER_STATE/odbc-$topology/odbc.ini"
  done

  # A write through either listener is on every node when the next statement
  # reads it there (wsrep_sync_wait), whichever node took the write.
  local i
  for i in 1 2 3; do
    (eval "$("$refdb" cluster env multi-writer)" &&
      echo "INSERT INTO HISTORY VALUES (1, 1, 1, 1, 1, NOW(), 1.00, 'cluster test $i')" |
      isql -b TESTDB acidtest 58274613) >/dev/null 2>&1 ||
      fail "an INSERT through the multi-writer listener failed"
    for ((node = 1; node <= nodes; node++)); do
      expect 0 "^1$" node_sql "$node" acidkit -e "SELECT COUNT(*) FROM HISTORY WHERE H_DATA = 'cluster test $i'"
    done
  done
  # The key the cluster needs stays out of the kit's view of HISTORY.
  history_columns() { node_sql 2 acidkit -e 'SELECT * FROM HISTORY LIMIT 1' | awk -F'\t' '{ print NF }'; }
  expect 0 '^8$' history_columns
  expect 0 '^3$' node_sql 2 acidkit -e "SELECT COUNT(DISTINCT H_ID) FROM HISTORY WHERE H_DATA LIKE 'cluster test %'"
  node_sql 1 acidkit -e "DELETE FROM HISTORY WHERE H_DATA LIKE 'cluster test %'"
  finish_checks "cluster up, loaded by state transfer"
}

step_isolation() {
  local topology=$1 n=$2 word=$3 out rc
  eval "$("$refdb" cluster env "$topology")"
  out=$("$bin/isolation$n" 2>&1)
  rc=$?
  printf '%s\n' "$out" | tail -n 25
  grep -qx "Isolation test $n $word" <<<"$out" ||
    fail "isolation$n through the $topology listener did not print 'Isolation test $n $word' (exit $rc)"
  for ((node = 1; node <= nodes; node++)); do consist_on_node "$node"; done
  finish_checks "isolation$n, $topology: $word"
}

# A node killed while an isolation test runs through the multi-writer
# listener: the program ends with its verdict, the other two keep quorum,
# the node rejoins, and every node holds the same consistent data.
step_node_failure() {
  local out=$ACIDKIT_CLUSTER_STATE/node-failure.out pid node3 rc
  (eval "$("$refdb" cluster env multi-writer)" && exec "$bin/isolation3") >"$out" 2>&1 &
  pid=$!
  sleep 5
  node3=$(cat "$ACIDKIT_CLUSTER_STATE/node3/run/mysqld.pid")
  kill -KILL "$node3"
  wait "$pid"
  rc=$?
  cat "$out"
  grep -Eq '^Isolation test 3 (passed|failed)$' "$out" ||
    fail "isolation3 reached no verdict after node 3 was killed (exit $rc)"
  expect 4 'node 3: +stopped' "$refdb" cluster status
  expect 0 "^Synced	2	Primary$" node_sql 1 -e "SELECT
    (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_LOCAL_STATE_COMMENT'),
    (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_SIZE'),
    (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_STATUS')"
  expect 0 'node 3 joined' "$refdb" cluster up
  expect 0 "node 3: +running .* Synced, cluster size 3" "$refdb" cluster status
  for ((node = 1; node <= nodes; node++)); do consist_on_node "$node"; done
  expect_same_data acidkit
  finish_checks "a node killed during isolation3: verdict reached, quorum kept, rejoined"
}

step_down() {
  local pids=() node
  for ((node = 1; node <= nodes; node++)); do
    pids+=("$(cat "$ACIDKIT_CLUSTER_STATE/node$node/run/mysqld.pid" 2>/dev/null)")
  done
  pids+=("$(cat "$ACIDKIT_CLUSTER_STATE/haproxy/haproxy.pid" 2>/dev/null)")
  expect 0 "cluster stopped \($nodes node" "$refdb" cluster stop
  local pid
  for pid in "${pids[@]}"; do
    [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && fail "process $pid of the cluster still runs"
  done
  expect 3 'haproxy: +stopped' "$refdb" cluster status
  expect 0 'cluster stopped \(0 node' "$refdb" cluster stop
  expect 0 '^safe_to_bootstrap: 1$' cat "$ACIDKIT_CLUSTER_STATE/node1/data/grastate.dat"

  # A port of the cluster held by another program: refused before any node starts.
  local taken=$(($(node_port 2) + 1)) holder
  python3 -c '
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(); time.sleep(300)' "$taken" &
  holder=$!
  for _ in $(seq 50); do [[ -n $(ss -Hltn "sport = :$taken") ]] && break; sleep 0.1; done
  expect 1 "port $taken on 127.0.0.1 \(node 2, group communication\) is in use by python3" "$refdb" cluster up
  kill "$holder"
  wait "$holder" 2>/dev/null
  expect 3 'node 1: +stopped' "$refdb" cluster status

  # A restart bootstraps from node 1, stopped last; the others rejoin from it
  # and keep their data.
  expect 0 'node 1 bootstrapped a new cluster' "$refdb" cluster up
  expect 0 "^$warehouses$" node_sql 3 acidkit -e 'SELECT COUNT(*) FROM WAREHOUSE'
  expect 0 "cluster stopped \($nodes node" "$refdb" cluster stop
  ((failures)) || rm -rf "$ACIDKIT_CLUSTER_STATE"
  finish_checks "cluster stopped"
}

case ${1:-} in
  up) step_up ;;
  isolation) step_isolation "$2" "$3" "$4" ;;
  node-failure) step_node_failure ;;
  down) step_down ;;
  *)
    echo "usage: $0 up | isolation TOPOLOGY N passed|failed | node-failure | down" >&2
    exit 2
    ;;
esac
