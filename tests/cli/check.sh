# Shared by the CLI tests: `check NAME EXPECTED_EXIT PATTERN -- ARGS` runs "$kavrel" ARGS,
# checks the exit status and that stdout+stderr match PATTERN (grep -E), and counts the
# result in $passed / $failed. Needs $kavrel, $out and $err set.
passed=0
failed=0

check() {
  local name=$1 want=$2 pattern=$3
  shift 4
  "$kavrel" "$@" >"$out" 2>"$err"
  local got=$?
  if [ "$got" -eq "$want" ] && cat "$out" "$err" | grep -Eq -- "$pattern"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name: exit $got (wanted $want), output:"
    sed 's/^/    /' "$out" "$err"
  fi
}
