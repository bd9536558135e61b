# check.sh: the shell tests' one way of reporting. Sourced by the test
# scripts; each case prints "ok   NAME" or "FAIL NAME" with details, and
# check_done ends the script with status 1 when any case failed.

failures=0

ok() { echo "ok   $1"; }

# fail <name> [details]
fail() {
  echo "FAIL $1"
  [ -n "${2:-}" ] && printf '%s\n' "$2" | sed 's/^/  /'
  failures=$((failures + 1))
}

# check <name> <command...>: the case passes when the command succeeds; on
# failure $detail, when set, is shown.
check() {
  local name=$1
  shift
  if "$@"; then ok "$name"; else fail "$name" "${detail:-}"; fi
  detail=
}

# expect <name> <wanted> <got>
expect() {
  if [ "$3" == "$2" ]; then
    ok "$1"
  else
    fail "$1" "want: $(printf '%q' "$2")
got:  $(printf '%q' "$3")"
  fi
}

check_done() {
  [ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
  exit 0
}
