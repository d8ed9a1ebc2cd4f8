#!/usr/bin/env bash
# The package on this machine: apt-get install registers the adapter as the
# ODBC driver "acidkit"; the installed acidkit and durability run against a
# database of the reference server through it; apt-get remove takes every
# file and the driver entry away. Needs root and the running reference
# server; skipped (77) when acidkit is installed already, which this test must
# not disturb.
#   package_install.sh PACKAGE_BUILD W
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tests/support/checks.sh
source "$repo/tests/support/checks.sh"
build=$1 warehouses=$2
debs=("$build"/acidkit_*.deb)
deb=${debs[-1]}
database=acidkit_package

if ((EUID != 0)); then
  echo "skipped: apt-get install needs root"
  exit 77
fi
if dpkg -s acidkit >/dev/null 2>&1; then
  echo "skipped: the package acidkit is installed on this machine already"
  exit 77
fi
[[ -f $deb ]] || {
  echo "no package in $build (the test package_contents makes it)"
  exit 1
}

# The system's driver list is this machine's: put it back as it was.
drivers=$(env -u ODBCSYSINI -u ODBCINI odbcinst -j | sed -n 's/^DRIVERS\.*: //p')
saved=$(mktemp /tmp/acidkit-odbcinst.XXXXXX)
work=$(mktemp -d /tmp/acidkit-package-install.XXXXXX)
cp -p "$drivers" "$saved"
cleanup() {
  dpkg -s acidkit >/dev/null 2>&1 && apt-get remove -y -q acidkit >/dev/null 2>&1
  cp -p "$saved" "$drivers"
  rm -f "$saved"
  "$repo/db/refdb" drop-db "$database" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

expect 0 "Setting up acidkit" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb"
files=$(dpkg -L acidkit)
expect 0 "^Driver=/usr/lib/x86_64-linux-gnu/odbc/libacidkitodbc.so$" \
  env -u ODBCSYSINI -u ODBCINI odbcinst -q -d -n acidkit

# TESTDB through the installed driver: the data source file names the driver
# "acidkit", which the system's list resolves to the installed adapter.
"$repo/db/refdb" load "$warehouses" --db "$database" --replace >"$work/load.log" 2>&1 ||
  fail "db/refdb load failed" "$(tail -20 "$work/load.log")"
"$repo/db/refdb" odbcini "$database" "$work/odbc" >/dev/null
env -u ODBCSYSINI ODBCINI="$work/odbc/odbc.ini" acidkit run --only consist,atom \
  --into "$work/results" >"$work/run.log" 2>&1
status=$?
if ((status != 0)) || ! grep -q "^All 2 programs passed" "$work/run.log"; then
  fail "the installed acidkit run exited $status" "$(cat "$work/run.log")"
fi
grep -q "run from /usr/bin$" "$work/run.log" ||
  fail "the installed acidkit ran programs from elsewhere" "$(grep 'run from' "$work/run.log")"
# The installed crash test, without a crash: a short stream and its verification.
env -u ODBCSYSINI ODBCINI="$work/odbc/odbc.ini" durability run --seconds 2 --connections 2 \
  --journal "$work/journal" >"$work/durability.log" 2>&1 ||
  fail "the installed durability run failed" "$(cat "$work/durability.log")"
expect 0 "^Durability test passed$" env -u ODBCSYSINI ODBCINI="$work/odbc/odbc.ini" \
  durability verify --journal "$work/journal"

expect 0 "Removing acidkit" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q acidkit
left=()
while read -r path; do
  [[ -f $path || -L $path ]] && left+=("$path")
done <<<"$files"
[[ -e /usr/share/acidkit ]] && left+=(/usr/share/acidkit)
((${#left[@]} == 0)) || fail "apt-get remove left files behind" "${left[*]}"
if env -u ODBCSYSINI -u ODBCINI odbcinst -q -d -n acidkit >/dev/null 2>&1; then
  fail "apt-get remove left the driver acidkit registered" \
    "$(env -u ODBCSYSINI -u ODBCINI odbcinst -q -d -n acidkit)"
fi

finish_checks "apt-get install and remove of the package, with a run of the installed kit between"
