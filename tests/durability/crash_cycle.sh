#!/usr/bin/env bash
# The durability test end to end on a private server of this test (own state
# directory, own port, no system-wide ODBC files): crash cycles with the
# durable default, which must pass, then with the server started without a
# flush at commit, which must fail with the lost commits counted and listed.
#   crash_cycle.sh ACIDKIT BIN
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
acidkit=$1
bin=$2
refdb=$repo/db/refdb
# shellcheck source=tests/support/checks.sh
source "$repo/tests/support/checks.sh"
warehouses=${ACIDKIT_WAREHOUSES:?the build\'s warehouse count}
# shellcheck source=tests/refdb/lifecycle.sh
source "$repo/tests/refdb/lifecycle.sh"
private_mariadb_server durability "${DURABILITY_TEST_PORT:-23386}" "$refdb"

"$refdb" start >"$state/start.log" 2>&1 || {
  cat "$state/start.log"
  exit 1
}
"$refdb" load "$warehouses" >"$state/load.log" 2>&1 || {
  tail -n 20 "$state/load.log"
  exit 1
}
eval "$("$refdb" env)"

# cycles NAME K: K cycles into $state/NAME, the output in $state/NAME.out;
# the exit status is acidkit's.
cycles() {
  "$acidkit" durability --cycles "$2" --min-commits 300 --connections 8 --bin "$bin" \
    --refdb "$refdb" --into "$state/$1" >"$state/$1.out" 2>&1
}

# Durable by default: every acknowledged commit is there after each kill.
cycles safe 2
rc=$?
out=$(cat "$state/safe.out")
((rc == 0)) || fail "the cycles at the durable default exited $rc, expected 0" "$out"
for n in 1 2; do
  grep -Eq "^cycle $n: passed +[0-9]+ acknowledged, 0 missing, [0-9]+ in flight" <<<"$out" ||
    fail "cycle $n at the durable default did not pass with 0 missing" "$out"
  grep -q '^Durability test passed$' "$state/safe/cycle-$n/verify.log" ||
    fail "verify of cycle $n at the durable default did not pass" "$(cat "$state/safe/cycle-$n/verify.log")"
  grep -Eq 'recovered from the crash in [0-9.]+ s' "$state/safe/cycle-$n/start.log" ||
    fail "the start after cycle $n's kill did not tell its recovery time" "$(cat "$state/safe/cycle-$n/start.log")"
done

# The negative control: commits are not flushed at commit time, so a kill
# loses the last of them. The restart after each kill keeps the setting. Two
# cycles, so that a kill just after the once-a-second flush cannot make the
# test pass by luck; each must fail.
"$refdb" stop >/dev/null 2>&1
ACIDKIT_FLUSH_LOG_AT_TRX_COMMIT=0 "$refdb" start >"$state/start-unsafe.log" 2>&1 ||
  fail "the server did not start with ACIDKIT_FLUSH_LOG_AT_TRX_COMMIT=0" "$(cat "$state/start-unsafe.log")"
expect 0 '^0$' "$refdb" sql -N -e 'SELECT @@innodb_flush_log_at_trx_commit'
cycles unsafe 2
rc=$?
out=$(cat "$state/unsafe.out")
((rc == 1)) || fail "the cycles without a flush at commit exited $rc, expected 1" "$out"
grep -Eq '^cycle [12]: FAILED +[0-9]+ acknowledged, [1-9][0-9]* missing' <<<"$out" ||
  fail "no cycle without a flush at commit failed with its missing commits counted" "$out"
for n in 1 2; do
  grep -q "innodb_flush_log_at_trx_commit=0" "$state/unsafe/cycle-$n/start.log" ||
    fail "the restart after cycle $n's kill did not keep the setting 0" "$(cat "$state/unsafe/cycle-$n/start.log")"
done
grep -Eq '^ +[0-9]+ of [0-9]+ acknowledged (New-Order|Payment) commits are missing' <<<"$out" ||
  fail "the failed cycle gives no reason with the count of missing commits" "$out"
verify_logs=("$state"/unsafe/cycle-*/verify.log)
grep -hq '^Durability test failed$' "${verify_logs[@]}" ||
  fail "no verify without a flush at commit said 'Durability test failed'" "$out"
grep -hEq '^Missing: (New-Order|Payment) W_ID=' "${verify_logs[@]}" ||
  fail "the lost commits are not listed one by one" "$(cat "${verify_logs[@]}")"

echo "durable default:"
grep -E '^(cycle|  median|Median|Recovery|Commit)' "$state/safe.out" || cat "$state/safe.out"
echo "no flush at commit:"
grep -E '^(cycle|  median|Median)' "$state/unsafe.out" || cat "$state/unsafe.out"
finish_checks "crash cycles: passed at the durable default, failed with the lost commits listed without a flush at commit"
