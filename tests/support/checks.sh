# shellcheck shell=bash
# Checks shared by the shell tests: each failure is counted and printed with
# the output that shows it; the test reports them all at its end.

failures=0
fail() {
  printf 'FAIL: %s\n' "$1"
  [[ -n ${2:-} ]] && printf '%s\n' "$2" | sed 's/^/    /'
  failures=$((failures + 1))
}

# expect STATUS PATTERN COMMAND...: runs COMMAND, checks its exit status and
# that its output matches the extended regular expression PATTERN.
expect() {
  local want=$1 pattern=$2 out rc
  shift 2
  out=$("$@" 2>&1)
  rc=$?
  if [[ $rc != "$want" ]]; then
    fail "'$*' exited $rc, expected $want" "$out"
  elif ! grep -Eq -- "$pattern" <<<"$out"; then
    fail "'$*' printed no line matching /$pattern/" "$out"
  fi
}

# The test's last command: status 1 with the count of failed checks, else 0
# and message $1.
finish_checks() {
  if ((failures)); then
    echo "$failures check(s) failed"
    return 1
  fi
  echo "$1"
}
