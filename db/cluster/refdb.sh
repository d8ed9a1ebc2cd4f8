# shellcheck shell=bash
# `db/refdb cluster ...`: the reference database as a Galera cluster of N
# MariaDB nodes on this machine, with HAProxy in front. Sourced by db/refdb,
# whose settings, helpers, procedures, adapter and loader every node shares:
# a node is the reference server with its own state directory and port, plus
# the Galera settings of galera.cnf.in.

CLUSTER_STATE=${ACIDKIT_CLUSTER_STATE:-$STATE-cluster}
# Ports: the two proxy listeners at the base, then four per node (SQL, group
# communication, IST, SST) from base + 4. The default base keeps clear of the
# single server's port and of the tests' private servers (port + 10, + 65):
# port + 20 to port + 59 for up to nine nodes.
CLUSTER_PORT=${ACIDKIT_CLUSTER_PORT:-$((PORT + 20))}
CLUSTER_MAX_NODES=9
# Reads, UPDATE/DELETE and INSERT/REPLACE wait for the node to catch up.
CLUSTER_SYNC_WAIT=${ACIDKIT_CLUSTER_SYNC_WAIT:-7}
CLUSTER_SYNC_TIMEOUT=${ACIDKIT_CLUSTER_SYNC_TIMEOUT:-600}
CLUSTER_PACKAGES=(galera-4 rsync haproxy iproute2)
# Three nodes beside the single server: a smaller buffer pool each, and more
# time to start, since a joining node answers only after its state transfer.
ACIDKIT_BUFFER_POOL=${ACIDKIT_BUFFER_POOL:-1G}
# shellcheck disable=SC2034 # db/refdb's launch_server waits this long
START_TIMEOUT=${ACIDKIT_START_TIMEOUT:-600}
HAPROXY_DIR=$CLUSTER_STATE/haproxy
HAPROXY_PID=$HAPROXY_DIR/haproxy.pid
HAPROXY_CFG=$HAPROXY_DIR/haproxy.cfg
CHECK_USER=acidkit_check
TOPOLOGIES=(single-writer multi-writer)

cluster_usage() {
  cat <<EOF
usage: db/refdb cluster COMMAND [ARGS]

  up [N]                  install what is missing, start (or complete) a Galera
                          cluster of N nodes (default: as before, else 3; 1 to
                          $CLUSTER_MAX_NODES) and HAProxy; bootstraps from the most
                          advanced node, the others join by state transfer
  status                  each node's state and cluster size, the proxy, and the
                          warehouses per database; exit 0 when every node is
                          Synced, 3 when nothing runs, 4 when some node is not
  stop                    stop the proxy and the nodes, the first node last
  load W [--db NAME] [--replace] [--seed N]
                          stop nodes 2..N, load W warehouses into node 1, then let
                          the other nodes receive the data by full state transfer
  env single-writer|multi-writer
                          print the exports that select that listener's ODBC files

Environment: ACIDKIT_CLUSTER_STATE (default \${ACIDKIT_STATE}-cluster, here
$CLUSTER_STATE), ACIDKIT_CLUSTER_PORT (default \${ACIDKIT_PORT} + 20, here
$CLUSTER_PORT): single-writer listener on it, multi-writer on it + 1, node i on
it + 4i (SQL) to it + 4i + 3 (group, IST, SST ports). ACIDKIT_BUFFER_POOL
(per node, default 1G), ACIDKIT_CLUSTER_SYNC_WAIT (wsrep_sync_wait, default 7).
EOF
}

# --- nodes ---------------------------------------------------------------------

node_port() { echo $((CLUSTER_PORT + 4 * $1)); }
group_port() { echo $((CLUSTER_PORT + 4 * $1 + 1)); }
ist_port() { echo $((CLUSTER_PORT + 4 * $1 + 2)); }
sst_port() { echo $((CLUSTER_PORT + 4 * $1 + 3)); }

# Points db/refdb's server variables at node $1, so that its helpers (start,
# admin, load, procedures) act on that node.
# shellcheck disable=SC2034 # the variables are db/refdb's
use_node() {
  STATE=$CLUSTER_STATE/node$1
  PORT=$(node_port "$1")
  DATADIR=$STATE/data
  RUNDIR=$STATE/run
  SOCK=$RUNDIR/mysqld.sock
  PIDFILE=$RUNDIR/mysqld.pid
  LOGDIR=$STATE/log
  LOGFILE=$LOGDIR/mariadbd.err
  CNF=$STATE/my.cnf
}

cluster_lock() {
  mkdir -p "$CLUSTER_STATE"
  exec 9>"$CLUSTER_STATE/cluster.lock"
  flock 9
}

# The node count: the one recorded by the last `up`, else 3.
recorded_nodes() {
  local n
  n=$(cat "$CLUSTER_STATE/nodes" 2>/dev/null || true)
  [[ $n =~ ^[1-9]$ ]] && echo "$n" || echo 3
}

NODES=0
set_nodes() {
  NODES=${1:-$(recorded_nodes)}
  [[ $NODES =~ ^[1-9]$ ]] ||
    die "usage: db/refdb cluster up [N]" "N: the number of nodes, 1 to $CLUSTER_MAX_NODES"
}

node_running() { use_node "$1" && running; }

running_nodes() {
  local i list=()
  for ((i = 1; i <= CLUSTER_MAX_NODES; i++)); do
    node_running "$i" && list+=("$i")
  done
  echo "${list[*]}"
}

# wsrep status variable $2 of node $1, empty when the node does not answer.
node_status() {
  use_node "$1"
  admin -N -B -e "SHOW GLOBAL STATUS LIKE '$2'" 2>/dev/null | cut -f2
}

cluster_address() {
  local i list=()
  for ((i = 1; i <= NODES; i++)); do list+=("127.0.0.1:$(group_port "$i")"); done
  local IFS=,
  echo "gcomm://${list[*]}"
}

# Writes node $1's option file: the reference server's settings, then Galera's.
# $2: the cluster address (gcomm:// alone bootstraps a new cluster).
write_node_cnf() {
  use_node "$1"
  write_cnf
  render "$REPO/db/cluster/galera.cnf.in" NODE="$1" CLUSTER_ADDRESS="$2" \
    GROUP_PORT="$(group_port "$1")" IST_PORT="$(ist_port "$1")" SST_PORT="$(sst_port "$1")" \
    PORT="$PORT" SYNC_WAIT="$CLUSTER_SYNC_WAIT" >>"$CNF"
}

# The replication position of stopped node $1 (-1 when it has none), from
# grastate.dat, or recovered from InnoDB after a crash left -1 there.
node_seqno() {
  use_node "$1"
  local grastate=$DATADIR/grastate.dat seqno
  [[ -f $grastate ]] || { echo -1; return; }
  seqno=$(sed -n 's/^seqno: *//p' "$grastate")
  if [[ $seqno == -1 ]]; then
    local log=$LOGDIR/wsrep-recover.log
    write_node_cnf "$1" "$(cluster_address)"
    mariadbd --defaults-file="$CNF" --user="$(server_user)" --wsrep-recover \
      --log-error="$log" >/dev/null 2>&1 || true
    seqno=$(sed -n 's/.*WSREP: Recovered position: [^:]*:\(-\{0,1\}[0-9]*\).*/\1/p' "$log" | tail -1)
  fi
  [[ $seqno =~ ^-?[0-9]+$ ]] && echo "$seqno" || echo -1
}

# The node to bootstrap a stopped cluster from: the one that its last member
# marked safe to bootstrap, else the one with the highest position (marked
# safe now), else node 1 for a cluster that never held data.
bootstrap_node() {
  local i best=1 best_seqno=-2 seqno
  for ((i = 1; i <= NODES; i++)); do
    use_node "$i"
    if grep -q '^safe_to_bootstrap: *1' "$DATADIR/grastate.dat" 2>/dev/null; then
      echo "$i"
      return
    fi
  done
  for ((i = 1; i <= NODES; i++)); do
    seqno=$(node_seqno "$i")
    if ((seqno > best_seqno)); then
      best=$i best_seqno=$seqno
    fi
  done
  use_node "$best"
  if [[ -f $DATADIR/grastate.dat ]]; then
    say "no node was stopped last; bootstrapping node $best, the most advanced (position $best_seqno)" >&2
    sed -i 's/^safe_to_bootstrap: *0/safe_to_bootstrap: 1/' "$DATADIR/grastate.dat"
  fi
  echo "$best"
}

# Waits until node $1 reports Synced; dies with its log's errors otherwise.
wait_synced() {
  local deadline=$((SECONDS + CLUSTER_SYNC_TIMEOUT)) state
  while :; do
    state=$(node_status "$1" wsrep_local_state_comment)
    [[ $state == Synced ]] && return 0
    running || die "node $1 stopped while joining" "see $LOGFILE"
    ((SECONDS < deadline)) ||
      die "node $1 is not Synced after $CLUSTER_SYNC_TIMEOUT s (state: ${state:-no answer})" "see $LOGFILE"
    sleep 0.2
  done
}

# Starts stopped node $1; $2 = bootstrap|join. A joiner that lost its state
# (or never had one) receives the full data set by state transfer (SST), one
# that was away briefly the missing transactions from a peer's cache (IST).
start_node() {
  local i=$1 mode=$2 address start
  address=$(cluster_address)
  [[ $mode == bootstrap ]] && address=gcomm://
  use_node "$i"
  [[ -f $PIDFILE ]] && rm -f "$PIDFILE"
  # The data directory is initialised without Galera's settings: a node of
  # no cluster yet.
  write_cnf
  init_datadir
  write_node_cnf "$i" "$address"
  start=$(date +%s%N)
  launch_server
  wait_synced "$i"
  say "node $i $([[ $mode == bootstrap ]] && echo bootstrapped a new cluster || echo joined): Synced in $((($(date +%s%N) - start) / 1000000)) ms" \
    "(cluster size $(node_status "$i" wsrep_cluster_size))"
  # A node restarted by hand rejoins the cluster instead of founding another.
  [[ $mode == bootstrap ]] && write_node_cnf "$i" "$(cluster_address)"
  return 0
}

stop_node() {
  use_node "$1"
  local pid
  pid=$(server_pid) || return 0
  say "stopping node $1 (pid $pid)"
  kill -TERM "$pid"
  local deadline=$((SECONDS + 300))
  while kill -0 "$pid" 2>/dev/null; do
    ((SECONDS < deadline)) ||
      die "node $1 (pid $pid) did not stop within 300 s" "see $LOGFILE; it may still be flushing"
    sleep 0.2
  done
}

# Dies when another program listens on port $1, which the cluster needs for $2.
require_free_port() {
  local owner
  owner=$(PORT=$1 port_owner)
  [[ -z $owner ]] || die "port $1 on 127.0.0.1 ($2) is in use by $owner" \
    "stop that program, or move the cluster's ports with ACIDKIT_CLUSTER_PORT=..."
}

# Every port that the nodes and the proxy still to be started need, checked
# before anything starts.
check_cluster_ports() {
  local i
  for ((i = 1; i <= NODES; i++)); do
    node_running "$i" && continue
    require_free_port "$(node_port "$i")" "node $i, SQL"
    require_free_port "$(group_port "$i")" "node $i, group communication"
    require_free_port "$(ist_port "$i")" "node $i, IST"
    require_free_port "$(sst_port "$i")" "node $i, SST"
  done
  if ! haproxy_pid >/dev/null; then
    require_free_port "$CLUSTER_PORT" "single-writer listener"
    require_free_port $((CLUSTER_PORT + 1)) "multi-writer listener"
  fi
}

# --- proxy and data sources -------------------------------------------------------

haproxy_pid() {
  [[ -r $HAPROXY_PID ]] || return 1
  local pid
  pid=$(head -1 "$HAPROXY_PID")
  [[ $pid =~ ^[0-9]+$ && -r /proc/$pid/cmdline ]] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$HAPROXY_CFG" || return 1
  echo "$pid"
}

# The `server` lines of one listener; $1: single-writer|multi-writer.
server_lines() {
  local i
  for ((i = 1; i <= NODES; i++)); do
    printf '    server node%d 127.0.0.1:%d check' "$i" "$(node_port "$i")"
    if [[ $1 == single-writer ]]; then
      ((i > 1)) && printf ' backup'
      printf ' on-marked-down shutdown-sessions'
    fi
    printf '\\n'
  done
}

write_haproxy_cfg() {
  mkdir -p "$HAPROXY_DIR"
  render "$REPO/db/cluster/haproxy.cfg.in" PIDFILE="$HAPROXY_PID" \
    STATS_SOCKET="$HAPROXY_DIR/stats.sock" SINGLE_WRITER_PORT="$CLUSTER_PORT" \
    MULTI_WRITER_PORT="$((CLUSTER_PORT + 1))" |
    awk -v sw="$(server_lines single-writer)" -v mw="$(server_lines multi-writer)" '
      /^[ \t]*@SINGLE_WRITER_SERVERS@[ \t]*$/ { printf "%s", sw; next }
      /^[ \t]*@MULTI_WRITER_SERVERS@[ \t]*$/ { printf "%s", mw; next }
      { print }' >"$HAPROXY_CFG.tmp"
  mv "$HAPROXY_CFG.tmp" "$HAPROXY_CFG"
}

start_haproxy() {
  local pid
  if pid=$(haproxy_pid); then
    say "haproxy already running (pid $pid)"
    return
  fi
  write_haproxy_cfg
  haproxy -c -f "$HAPROXY_CFG" >"$HAPROXY_DIR/check.log" 2>&1 ||
    die "haproxy rejects $HAPROXY_CFG" "see $HAPROXY_DIR/check.log"
  rm -f "$HAPROXY_PID"
  # -D: haproxy detaches itself and writes the pid file; fd 9 (the lock) stays here.
  haproxy -D -f "$HAPROXY_CFG" >"$HAPROXY_DIR/haproxy.log" 2>&1 9>&- ||
    die "haproxy did not start" "see $HAPROXY_DIR/haproxy.log"
  local deadline=$((SECONDS + 10))
  until pid=$(haproxy_pid); do
    ((SECONDS < deadline)) || die "haproxy wrote no pid file" "see $HAPROXY_DIR/haproxy.log"
    sleep 0.1
  done
  say "haproxy up (pid $pid): single-writer 127.0.0.1:$CLUSTER_PORT, multi-writer 127.0.0.1:$((CLUSTER_PORT + 1))"
}

stop_haproxy() {
  local pid
  pid=$(haproxy_pid) || return 0
  say "stopping haproxy (pid $pid)"
  kill -TERM "$pid"
  while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
}

topology_description() {
  local i ports=()
  for ((i = 1; i <= NODES; i++)); do ports+=(":$(node_port "$i")"); done
  local first=127.0.0.1${ports[0]} rest
  rest=$(printf '%s, ' "${ports[@]:1}")
  rest=${rest%, }
  case $1 in
    single-writer)
      printf 'acidkit cluster, single-writer: HAProxy 127.0.0.1:%d to node %s%s' \
        "$CLUSTER_PORT" "$first" "${rest:+, backups $rest}"
      ;;
    multi-writer)
      printf 'acidkit cluster, multi-writer: HAProxy 127.0.0.1:%d round robin over nodes %s%s' \
        "$((CLUSTER_PORT + 1))" "$first" "${rest:+, $rest}"
      ;;
  esac
}

topology_port() {
  [[ $1 == single-writer ]] && echo "$CLUSTER_PORT" || echo $((CLUSTER_PORT + 1))
}

# One pair of data source files per listener, TESTDB naming the topology and
# the nodes in its Description.
write_cluster_odbc() {
  local topology dir description
  for topology in "${TOPOLOGIES[@]}"; do
    dir=$CLUSTER_STATE/odbc-$topology
    PORT=$(topology_port "$topology") write_odbc_files "$KIT_DB" "$dir"
    description=$(topology_description "$topology")
    sed -i "s|^Description *=.*|Description = $description|" "$dir/odbc.ini"
  done
}

# --- commands ------------------------------------------------------------------

cluster_install() {
  # db/refdb's installer, with the cluster's packages added to its list.
  local PACKAGES=("${PACKAGES[@]}" "${CLUSTER_PACKAGES[@]}")
  [[ -z $(missing_packages) ]] || install_packages
  if [[ ! -x $LOADER || ! -f $ADAPTER ]]; then
    build_db_targets
  fi
}

cluster_up() {
  (($# <= 1)) || die "usage: db/refdb cluster up [N]"
  cluster_install
  need_tools mariadbd mariadb-install-db mariadb haproxy rsync setsid flock
  cluster_lock
  local running_list
  running_list=$(running_nodes)
  if [[ -n $running_list && -n ${1:-} && $1 != "$(recorded_nodes)" ]]; then
    die "the cluster runs with $(recorded_nodes) nodes; it cannot change to $1 while it runs" \
      "run: db/refdb cluster stop, then db/refdb cluster up $1"
  fi
  set_nodes "${1:-}"
  use_node 1
  mkdir -p "$STATE"
  [[ $(server_user) != root ]] ||
    die "the nodes would run as root, since user mysql cannot enter $CLUSTER_STATE;" \
      "state transfer between nodes fails as root: give user mysql access to that" \
      "directory, or choose another with ACIDKIT_CLUSTER_STATE=..."
  echo "$NODES" >"$CLUSTER_STATE/nodes"
  local start i first
  start=$(date +%s%N)
  # A proxy left running by nodes that died may list another node count.
  [[ -n $running_list ]] || stop_haproxy
  check_cluster_ports
  if [[ -z $running_list ]]; then
    first=$(bootstrap_node)
    start_node "$first" bootstrap
  else
    first=${running_list%% *}
    say "cluster running on node(s) $running_list"
  fi
  for ((i = 1; i <= NODES; i++)); do
    node_running "$i" || start_node "$i" join
  done
  use_node "$first"
  create_kit_db_and_user
  admin -e "CREATE USER IF NOT EXISTS '$CHECK_USER'@'127.0.0.1'"
  start_haproxy
  write_cluster_odbc
  say "cluster of $NODES node(s) up in $((($(date +%s%N) - start) / 1000000)) ms"
  [[ -f $ADAPTER ]] ||
    say "note: the adapter driver $ADAPTER is not built yet (db/refdb install builds it)"
}

cluster_stop() {
  (($# == 0)) || die "usage: db/refdb cluster stop"
  cluster_lock
  stop_haproxy
  local i stopped=0
  # The first node last: it is then the one marked safe to bootstrap from.
  for ((i = CLUSTER_MAX_NODES; i >= 1; i--)); do
    if node_running "$i"; then
      stop_node "$i"
      stopped=$((stopped + 1))
    fi
  done
  say "cluster stopped ($stopped node(s))"
}

cluster_status() {
  (($# == 0)) || die "usage: db/refdb cluster status"
  set_nodes
  local i pid state size synced=0 up=0 first=''
  echo "cluster:  $CLUSTER_STATE ($NODES nodes)"
  for ((i = 1; i <= NODES; i++)); do
    use_node "$i"
    if pid=$(server_pid); then
      up=$((up + 1))
      [[ -n $first ]] || first=$i
      state=$(node_status "$i" wsrep_local_state_comment)
      size=$(node_status "$i" wsrep_cluster_size)
      [[ $state == Synced ]] && synced=$((synced + 1))
      printf 'node %d:   running (pid %s) 127.0.0.1:%d  %s, cluster size %s\n' \
        "$i" "$pid" "$PORT" "${state:-no answer}" "${size:-?}"
    else
      printf 'node %d:   stopped          127.0.0.1:%d\n' "$i" "$PORT"
    fi
  done
  if pid=$(haproxy_pid); then
    echo "haproxy:  running (pid $pid)"
  else
    echo "haproxy:  stopped"
  fi
  local topology
  for topology in "${TOPOLOGIES[@]}"; do
    printf '  %-14s %s\n' "$topology" "$(topology_description "$topology")"
  done
  if [[ -n $first ]]; then
    use_node "$first"
    local db count
    echo "databases (node $first):"
    while read -r db; do
      count=$(admin -N -B -e "SELECT COUNT(*) FROM \`$db\`.WAREHOUSE" 2>/dev/null || echo '?')
      printf '  %-20s %6s warehouses\n' "$db" "$count"
    done < <(admin -N -B -e "SELECT TABLE_SCHEMA FROM information_schema.TABLES
      WHERE TABLE_NAME = 'WAREHOUSE' ORDER BY 1" 2>/dev/null)
  fi
  ((up == 0)) && return 3
  ((synced == NODES)) && return 0
  return 4
}

cluster_load() {
  # The arguments are checked before any node stops.
  parse_db_options "$@"
  [[ ${#ARGS[@]} -eq 1 && ${ARGS[0]} =~ ^[1-9][0-9]*$ ]] ||
    die "usage: db/refdb cluster load W [--db NAME] [--replace] [--seed N]" \
      "W: a whole number of warehouses >= 1"
  check_db_name "$DB"
  cluster_lock
  set_nodes
  node_running 1 || die "node 1 of the cluster is not running" "run: db/refdb cluster up"
  [[ -x $LOADER ]] || die "the loader $LOADER is not built" "run: db/refdb install"
  local i
  # Nodes 2..N get the loaded data by state transfer, not by replaying the
  # load: stopped, their replication state forgotten, and started again.
  if ((NODES > 1)); then
    say "nodes 2..$NODES stop for the load (if it fails, db/refdb cluster up starts them again)"
  fi
  for ((i = NODES; i >= 2; i--)); do stop_node "$i"; done
  use_node 1
  cmd_load "$@"
  local start
  start=$(date +%s%N)
  for ((i = 2; i <= NODES; i++)); do
    use_node "$i"
    rm -f "$DATADIR/grastate.dat"
    start_node "$i" join
  done
  ((NODES > 1)) &&
    say "state transfer to $((NODES - 1)) node(s) in $((($(date +%s%N) - start) / 1000000)) ms"
  return 0
}

cluster_env() {
  [[ $# -eq 1 && ($1 == single-writer || $1 == multi-writer) ]] ||
    die "usage: db/refdb cluster env single-writer|multi-writer"
  local dir=$CLUSTER_STATE/odbc-$1
  [[ -f $dir/odbc.ini ]] || die "no data source files for the cluster in $dir" "run: db/refdb cluster up"
  echo "export ODBCSYSINI=$dir"
  echo "export ODBCINI=$dir/odbc.ini"
}

cmd_cluster() {
  (($#)) || { cluster_usage >&2; exit 2; }
  local span=$((4 * CLUSTER_MAX_NODES + 3))
  if [[ ! $CLUSTER_PORT =~ ^[1-9][0-9]{0,4}$ ]] || ((CLUSTER_PORT + span > 65535)); then
    die "ACIDKIT_CLUSTER_PORT must be a number from 1 to $((65535 - span)), got '$CLUSTER_PORT'" \
      "the cluster uses that port and the $span after it"
  fi
  local sub=$1
  shift
  case $sub in
    -h | --help | help) cluster_usage ;;
    up) cluster_up "$@" ;;
    stop) cluster_stop "$@" ;;
    status) cluster_status "$@" ;;
    load) cluster_load "$@" ;;
    env) cluster_env "$@" ;;
    *) cluster_usage >&2; die "unknown cluster command '$sub'" "see db/refdb cluster --help" ;;
  esac
}
