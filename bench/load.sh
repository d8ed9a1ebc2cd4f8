#!/usr/bin/env bash
# Load benchmark: acidkit-load's parallel LOAD DATA path against its
# row-by-row INSERT baseline, side by side at the same warehouse count, on the
# reference server (db/refdb start) or the server behind --socket.
#
#   bench/load.sh [W] [--socket PATH] [--threads N] [--no-baseline]
#
# W defaults to 16. Each load goes into a database of its own (acidkit_bench,
# acidkit_bench_rbr), dropped afterwards. Prints each load's per-table rows/s,
# then the rate, the seconds per warehouse and the ratio of the two rates.
# The row-by-row load is slow (around 12,000 rows/s: about 11 minutes at 16
# warehouses); --no-baseline skips it.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
loader=${ACIDKIT_BUILD:-$repo/build}/bin/acidkit-load
w=16
socket=${ACIDKIT_STATE:-/var/lib/acidkit}/run/mysqld.sock
threads=()
baseline=1
seed=20240101
while (($#)); do
  case $1 in
    --socket) socket=$2; shift ;;
    --threads) threads=(--threads "$2"); shift ;;
    --no-baseline) baseline=0 ;;
    -h | --help) sed -n '2,12p' "$0"; exit 0 ;;
    *) [[ $1 =~ ^[1-9][0-9]*$ ]] || { echo "bench/load.sh: unknown argument '$1'" >&2; exit 2; }; w=$1 ;;
  esac
  shift
done
[[ -x $loader ]] || { echo "bench/load.sh: $loader is not built (cmake --build build)" >&2; exit 1; }

drop() { mariadb --socket="$socket" -e "DROP DATABASE IF EXISTS $1" >/dev/null 2>&1 || true; }
trap 'drop acidkit_bench; drop acidkit_bench_rbr' EXIT

# Runs one load; prints its output and leaves "rows/s s-per-warehouse" in $result.
result=
run_load() {
  local label=$1 db=$2 out
  shift 2
  echo "== $label: $w warehouses into $db (load average $(cut -d' ' -f1 /proc/loadavg))"
  out=$("$loader" --warehouses "$w" --database "$db" --socket "$socket" --seed "$seed" \
    --replace "$@" </dev/null 2>&1) || { echo "$out"; echo "bench/load.sh: the load failed" >&2; exit 1; }
  echo "$out" | sed -n '/^  table/,/^Loaded/p'
  result=$(echo "$out" | sed -n 's/^Loaded .*: \([0-9]*\) rows\/s, \([0-9.]*\) s per warehouse$/\1 \2/p')
  drop "$db"
}

run_load "parallel LOAD DATA" acidkit_bench "${threads[@]}"
read -r fast fast_spw <<<"$result"
echo "parallel LOAD DATA: $fast rows/s, $fast_spw s per warehouse"
if ((baseline)); then
  run_load "row-by-row INSERT" acidkit_bench_rbr --row-by-row
  read -r slow slow_spw <<<"$result"
  echo "row-by-row INSERT: $slow rows/s, $slow_spw s per warehouse"
  awk -v f="$fast" -v s="$slow" 'BEGIN { printf "ratio: %.1fx\n", f / s }'
fi
