#!/usr/bin/env bash
# The Debian package as scripts/package makes it, unpacked into a scratch root
# (dpkg -x): what it holds and depends on, and that its acidkit, programs and
# adapter run from there with nothing of the build tree behind them.
#   package_contents.sh PACKAGE_BUILD W
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tests/support/checks.sh
source "$repo/tests/support/checks.sh"
build=$1 warehouses=$2

ACIDKIT_PACKAGE_BUILD=$build "$repo/scripts/package" "$warehouses" >"$build.log" 2>&1 || {
  echo "scripts/package failed:"
  tail -30 "$build.log"
  exit 1
}
deb=$(tail -1 "$build.log")
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
root=$(mktemp -d /tmp/acidkit-package.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
usr=$root/usr
adapter=$usr/lib/x86_64-linux-gnu/odbc/libacidkitodbc.so

# What it installs, and the dependencies that no link shows.
for file in bin/acidkit bin/durability bin/acidkit-load bin/repair-new-order bin/atom bin/consist \
  bin/isolation{1,2,3,4,5,6,7,8,9} lib/x86_64-linux-gnu/odbc/libacidkitodbc.so \
  share/acidkit/README.md share/acidkit/selfcheck.tsv share/acidkit/report.schema.json \
  share/acidkit/acidkit-driver.ini \
  share/acidkit/sql/schema.sql share/acidkit/sql/procedures.sql.in \
  share/acidkit/odbc/odbc.ini.in share/acidkit/odbc/odbcinst.ini.in; do
  [[ -f $usr/$file ]] || fail "the package has no /usr/$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
names=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
for package in unixodbc odbc-mariadb libodbc2 libodbcinst2 libmariadb3 libstdc++6; do
  grep -Fxq "$package" <<<"$names" || fail "Depends lacks $package" "$depends"
done
expect 0 "^Driver *= */usr/lib/x86_64-linux-gnu/odbc/libacidkitodbc.so$" \
  cat "$usr/share/acidkit/acidkit-driver.ini"
for binary in "$usr"/bin/* "$adapter"; do
  if readelf -d "$binary" | grep -Eq 'RPATH|RUNPATH'; then
    fail "$binary keeps a run path" "$(readelf -d "$binary" | grep -E 'RPATH|RUNPATH')"
  fi
done

# From the scratch root: --help, and a program that reaches no server through
# the packaged adapter.
expect 0 "draw warehouses 1 to $warehouses" "$usr/bin/acidkit" --help
odbc=$root/odbc
mkdir "$odbc"
sed "s|@ADAPTER@|$adapter|" "$usr/share/acidkit/odbc/odbcinst.ini.in" >"$odbc/odbcinst.ini"
sed 's|@PORT@|1|; s|@DATABASE@|acidkit|' "$usr/share/acidkit/odbc/odbc.ini.in" >"$odbc/odbc.ini"
export ODBCSYSINI=$odbc ODBCINI=$odbc/odbc.ini
expect 1 "Can't connect to server on '127.0.0.1'" "$usr/bin/atom"
expect 1 "^======> ATOMICITY TEST FAILED!$" "$usr/bin/atom"
# The packaged acidkit finds the programs beside itself.
expect 1 "run from $usr/bin" "$usr/bin/acidkit" run --only atom --into "$root/results"
[[ -f $root/results/report.json ]] || fail "acidkit run wrote no report.json"

finish_checks "the package holds the kit and runs from a scratch root"
