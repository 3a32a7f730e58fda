#!/usr/bin/env bash
# The Windows build, run: its test programs under Wine through CTest, then the example host
# and kavrel.exe against the simulator, their output compared with the Linux build's.
# Needs build/windows (scripts/build-windows.sh) and build/default (the Linux build, for the
# process broker and the Linux kavrel). Fails when any test or check fails.
#
# Servers stay Linux processes: the broker (kavrel_test_broker) starts the simulator,
# tinyproxy and the FTP servers that a Windows test asks for, and the test programs find it
# through KVTEST_PROCESS_BROKER. Tests that fail for a reason of Wine's own are excluded by
# name in tests/wine-exclusions.txt, each with its measured reason.
#
# Arguments are passed on to CTest (scripts/test-wine.sh -R Ftp runs the FTP tests only).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
win=$root/build/windows
linux=$root/build/default
wine=${KAVREL_WINE:-/usr/lib/wine/wine64}
# Debian's wine64 puts the server beside the loader, not on PATH.
wineserver=${KAVREL_WINESERVER:-$(dirname "$wine")/wineserver64}
[ -x "$wineserver" ] || { echo "no wineserver at $wineserver (set KAVREL_WINESERVER)"; exit 1; }
started=$(date +%s)

export WINEPREFIX=$win/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -x "$linux/tests/support/kavrel_test_broker" ] ||
  cmake --build "$linux" --target kavrel_test_broker >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-wine.XXXXXX")
broker_pid=
cleanup() {
  [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null && { wait "$broker_pid" 2>/dev/null || true; }
  type devsim_stop >/dev/null 2>&1 && devsim_stop
  "$wineserver" -k 2>/dev/null && "$wineserver" -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# One prefix per build tree, made once (about 8 s); one wineserver for the whole stage, so
# that each program starts in a tenth of a second.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix $WINEPREFIX"
  "$wine" wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
fi
# Neither the wineserver nor the services that the first program starts may hold this
# script's or CTest's output open: both start here with their output in a log.
# A server that is already running refuses -p: the one that wineboot leaves behind (it
# lingers, then exits once no program runs) or one left by an earlier run, so that one is
# stopped first. Without a server that persists, the server and the services exited each
# time no test program happened to be running, and the next program waited 50-110 s for
# the new server and services while the old ones were going away.
"$wineserver" -k 2>/dev/null && "$wineserver" -w 2>/dev/null || true
"$wineserver" -p </dev/null >>"$work/wine.log" 2>&1 ||
  { echo "the wineserver did not start"; cat "$work/wine.log"; exit 1; }
"$wine" cmd /c exit </dev/null >>"$work/wine.log" 2>&1 || true

# The broker ends when its standard input closes: a pipe that this script holds.
mkfifo "$work/broker.in"
"$linux/tests/support/kavrel_test_broker" <"$work/broker.in" >"$work/broker.out" 2>"$work/broker.err" &
broker_pid=$!
exec {broker_in}>"$work/broker.in"
for _ in $(seq 100); do [ -s "$work/broker.out" ] && break; sleep 0.05; done
export KVTEST_PROCESS_BROKER=$(head -n 1 "$work/broker.out")
[ -n "$KVTEST_PROCESS_BROKER" ] || { echo "the process broker did not start"; cat "$work/broker.err"; exit 1; }

# ---- the test programs ---------------------------------------------------------------------
excluded=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' tests/wine-exclusions.txt | grep -v '^$' | paste -sd '|' || true)
echo "Wine exclusions (tests/wine-exclusions.txt):"
grep -v '^\s*#' tests/wine-exclusions.txt | grep -v '^\s*$' | sed 's/^/  /' || echo "  (none)"
echo "Linux-only test programs (KAVREL_LINUX_ONLY_TESTS in tests/CMakeLists.txt):"
sed -n '/^set(KAVREL_LINUX_ONLY_TESTS/,/^)/p' tests/CMakeLists.txt | sed '1d;$d' | sed 's/^ */  /'
ctest_status=0
# Wine 8 ends the other threads of an exiting program with a signal, which can catch one
# inside Wine's own code holding a lock of ntdll's; the exit then waits for that lock forever
# (seen with gdb: the last thread blocked on a mutex whose owner is gone). A thread that is
# always inside Wine made that likely (Asio's select thread on Windows, no longer started:
# Tessum/src/net_win32.cpp); it can still happen to a thread caught at the wrong moment, so
# a test that timed out is run again, up to three times in all, and named after the run. A
# test that failed is not: it fails the stage.
{ ctest --test-dir "$win" --output-on-failure -j 4 --repeat after-timeout:3 \
    ${excluded:+-E "^($excluded)\$"} "$@" || echo $? >"$work/ctest.status"; } 2>&1 |
  tee "$work/ctest.log"
[ -f "$work/ctest.status" ] && ctest_status=$(cat "$work/ctest.status")
retried=$(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*\(Timeout\).*/\1/p' "$work/ctest.log" | sort -u)
if [ -n "$retried" ]; then
  echo "timed out once under Wine (each passed or failed as its last run says above):"
  echo "$retried" | sed 's/^/  /'
fi

# ---- the example host and kavrel.exe against the simulator ----------------------------------
source tools/devsim/devsim-env.sh
export DEVSIM_WORKDIR=$work/devsim
devsim_start --device model=KM2401,name=basic \
  --device model=KM3111,name=md5,auth=digest,user=admin,password=secret \
  --device model=KM4130,name=sha,auth=digest-sha256,user=admin,password=secret ||
  { cat "$DEVSIM_WORKDIR/devsim.log"; exit 1; }
devsim_ctl POST /devices/basic/di '{"levels": [1, 0, 0, 1]}' >/dev/null

passed=0
failed=0
# same NAME -- ARGS: kavrel.exe and the Linux kavrel give the same output and exit status.
same() {
  local name=$1
  shift 2
  local want got want_rc=0 got_rc=0
  want=$("$linux/tools/kavrel/kavrel" "$@" 2>&1) || want_rc=$?
  got=$(timeout 120 "$wine" "$win/bin/kavrel.exe" "$@" 2>&1 | tr -d '\r') || got_rc=$?
  got=${got//kavrel.exe/kavrel}
  if [ "$want" == "$got" ] && [ "$want_rc" -eq "$got_rc" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: kavrel.exe $name: exit $got_rc (Linux $want_rc)"
    diff <(echo "$want") <(echo "$got") | sed 's/^/    /' || true
  fi
}
# host NAME EXIT PATTERN -- ARGS: the example host's exit status and output.
host() {
  local name=$1 want=$2 pattern=$3 out rc=0
  shift 4
  out=$(timeout 120 "$wine" "$win/bin/kavrel_example_host.exe" "$@" 2>&1 | tr -d '\r') || rc=$?
  if [ "$rc" -eq "$want" ] && grep -Eq -- "$pattern" <<<"$out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: example host $name: exit $rc (wanted $want), output:"
    sed 's/^/    /' <<<"$out"
  fi
}

basic=(--host 127.0.0.1 --http-port "$DEVSIM_basic_HTTP" --user root --password pass --type KM2401)
same "--help" -- --help
same "--json di" -- --json "${basic[@]}" di
same "--async do high low" -- --async "${basic[@]}" do high low
same "digest MD5 di" -- --host 127.0.0.1 --http-port "$DEVSIM_md5_HTTP" --user admin --password secret --type KM3111 di
same "digest SHA-256 di" -- --host 127.0.0.1 --http-port "$DEVSIM_sha_HTTP" --user admin --password secret --type KM4130 di
same "wrong password" -- --host 127.0.0.1 --http-port "$DEVSIM_basic_HTTP" --user root --password nope --type KM2401 di
levels=$(devsim_ctl GET /devices/basic/do)
if grep -q '"levels": *\[1, *0\]' <<<"$levels"; then passed=$((passed + 1)); else
  failed=$((failed + 1)); echo "FAIL: outputs after kavrel.exe do high low: $levels"; fi

host "Basic" 0 'input' -- 127.0.0.1 "$DEVSIM_basic_HTTP" root pass KM2401
host "Digest MD5" 0 'input' -- 127.0.0.1 "$DEVSIM_md5_HTTP" admin secret KM3111
host "Digest SHA-256" 0 'input' -- 127.0.0.1 "$DEVSIM_sha_HTTP" admin secret KM4130
host "wrong password" 1 '0x80070082' -- 127.0.0.1 "$DEVSIM_md5_HTTP" admin nope KM3111
echo "example host and kavrel.exe under Wine: $passed passed, $failed failed"

echo "Wine stage: $(($(date +%s) - started)) s"
[ "$ctest_status" -eq 0 ] && [ "$failed" -eq 0 ]
