#!/usr/bin/env bash
# The whole test suite: install what is needed, build, run every test, run the tests again
# under AddressSanitizer + UndefinedBehaviorSanitizer and the concurrency tests under
# ThreadSanitizer, run each fuzz target briefly, cross-build the Windows DLLs and test
# programs, and run those under Wine. Ends with a table of each stage's time.
#   scripts/test.sh           every stage (what CI runs)
#   scripts/test.sh --quick   the default build and its tests only: the edit-and-run loop
# FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
scripts/install-deps.sh --for test

# Each stage's heading gives the minutes and seconds since the start, so that a log shows
# where the time went; the table at the end sums it up.
stages=()
stage_name=
stage_start=0
mmss() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
end_stage() {
  [ -n "$stage_name" ] && stages+=("$stage_name|$((SECONDS - stage_start))")
  stage_name=
}
step() {
  end_stage
  stage_name=$*
  stage_start=$SECONDS
  printf '\n==== %s (at %s) ====\n' "$*" "$(mmss $SECONDS)"
}
table() {
  end_stage
  printf '\n%-58s %8s\n' "stage" "time"
  local row
  for row in "${stages[@]}"; do printf '%-58s %8s\n' "${row%|*}" "$(mmss "${row##*|}")"; done
  printf '%-58s %8s\n' "total" "$(mmss $SECONDS)"
  [ -n "${fuzz_fixed:-}" ] &&
    printf '%-58s %8s\n' "  of which the fuzz targets' fixed run time" "$(mmss "$fuzz_fixed")"
  return 0
}
trap 'status=$?; table; [ $status -eq 0 ] || echo "test.sh: FAILED in stage: ${stage_name:-?}"' EXIT

# Tests mostly wait on sockets, servers and time-outs, so each stage runs more of them at
# once than there are cores (the presets' job counts).
step "build and test (g++)"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
if [ "$quick" -eq 1 ]; then
  end_stage
  echo "the default build's tests passed (--quick: the other stages were not run)"
  exit 0
fi

step "AddressSanitizer + UndefinedBehaviorSanitizer (clang)"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

# Only the concurrency tests run under ThreadSanitizer, so only their programs are built.
step "ThreadSanitizer: concurrency tests (clang)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target concurrency_tests
ctest --preset tsan --no-tests=ignore

step "fuzz targets: build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
step "fuzz targets: run (${FUZZ_SECONDS:-20} s each)"
fuzz_count=$(grep -c . build/fuzz/fuzzers.txt 2>/dev/null || echo 0)
fuzz_fixed=$((fuzz_count * ${FUZZ_SECONDS:-20}))
scripts/run-fuzzers.sh build/fuzz "${FUZZ_SECONDS:-20}"

step "Windows cross-build (mingw-w64) and its zip"
scripts/build-windows.sh
scripts/package-windows.sh

step "Windows build under Wine: tests, example host, kavrel.exe"
scripts/test-wine.sh

end_stage
echo "all test stages passed"
