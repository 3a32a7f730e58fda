#!/usr/bin/env bash
# The whole test suite: install what is needed, build, run every test, run the tests again
# under AddressSanitizer + UndefinedBehaviorSanitizer and the concurrency tests under
# ThreadSanitizer, run each fuzz target briefly, cross-build the Windows DLLs and test
# programs, and run those under Wine.
# FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Each stage's heading gives the minutes and seconds since the start, so that a log shows
# where the time went.
step() { printf '\n==== %s (at %dm%02ds) ====\n' "$*" $((SECONDS / 60)) $((SECONDS % 60)); }

step "build and test (g++)"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

step "AddressSanitizer + UndefinedBehaviorSanitizer (clang)"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

step "ThreadSanitizer: concurrency tests (clang)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan --no-tests=ignore

step "fuzz targets (${FUZZ_SECONDS:-20} s each)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scripts/run-fuzzers.sh build/fuzz "${FUZZ_SECONDS:-20}"

step "Windows cross-build (mingw-w64) and its zip"
scripts/build-windows.sh
scripts/package-windows.sh

step "Windows build under Wine: tests, example host, kavrel.exe"
scripts/test-wine.sh

step "all test stages passed"
