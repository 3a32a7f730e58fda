#!/usr/bin/env bash
# "kavrel firmware upgrade" against the simulator: the JSON lines, the progress bar on a
# terminal, and Ctrl-C during the upload. Usage: cli_firmware_test.sh KAVREL_BINARY SOURCE_DIR
set -u
kavrel=$1
source "$2/tools/devsim/devsim-env.sh"
export DEVSIM_WORKDIR=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-cli-fw-test.XXXXXX")
trap 'devsim_stop; rm -rf "$DEVSIM_WORKDIR"' EXIT
# The device restarts in 0.3 s, and its HTTP and FTP servers take up to a second to close and
# open again: a settle pause of 2000 ms covers that with room to spare.
devsim_start --device model=RZ7161,name=fw,down=0.3 --device model=KM3111,name=slow \
  || { cat "$DEVSIM_WORKDIR/devsim.log"; exit 1; }

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# A plain image of N payload bytes for MODEL: big-endian length, payload with the version
# token, a check byte that makes the byte sum 0.
image() {
  /usr/bin/python3 - "$1" "$2" "$3" <<'PY'
import sys
path, n, model = sys.argv[1], int(sys.argv[2]), sys.argv[3]
payload = bytearray((ord("a") + i % 23) for i in range(n))
token = b"\0" + model.encode() + b"-V200-0A1B\0"
payload[8:8 + len(token)] = token
data = n.to_bytes(4, "big") + bytes(payload)
open(path, "wb").write(data + bytes([(256 - sum(data) % 256) % 256]))
PY
}

fw=(--host 127.0.0.1 --http-port "$DEVSIM_fw_HTTP" --ftp-port "$DEVSIM_fw_FTP" --user root --password pass --type RZ7161)
slow=(--host 127.0.0.1 --http-port "$DEVSIM_slow_HTTP" --ftp-port "$DEVSIM_slow_FTP" --user root --password pass --type KM3111)
small=$DEVSIM_WORKDIR/small.bin
big=$DEVSIM_WORKDIR/big.bin
image "$small" 40000 RZ7161
image "$big" 4000000 KM3111
out=$DEVSIM_WORKDIR/out

# JSON: one valid line per progress step, in order, the sizes adding up, then the result.
if "$kavrel" --json "${fw[@]}" firmware upgrade "$small" --skip-wait --settle-ms 2000 >"$out" 2>&1 &&
   /usr/bin/python3 - "$out" "$(stat -c %s "$small")" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
steps = [l["step"] for l in lines[:-1]]
assert all(l["event"] == "progress" for l in lines[:-1]), lines
assert steps[0] == 1 and steps[1] == 2 and steps[-1] == 12, steps
assert 8 in steps and 9 not in steps, steps
last = [l for l in lines if l.get("step") == 16][-1]
assert last["total"] == last["sent"] == int(sys.argv[2]) and last["file"] == "flash.bin", last
assert [l["name"] for l in lines if l.get("step") == 7] == ["flash.bin"]
assert lines[-1] == {"ok": True, "code": "0x00000000"}, lines[-1]
PY
then pass; else fail "json lines"; cat "$out"; fi

# The progress bar, drawn only on a terminal.
script -qec "$kavrel ${fw[*]} firmware upgrade $small --skip-wait --settle-ms 2000" /dev/null >"$out" 2>&1
if grep -q 'flash.bin *40005/40005 bytes .* KiB/s' "$out" && grep -q 'uploading' "$out" &&
   grep -q '^firmware upgraded' "$out"; then pass; else fail "progress bar"; cat -v "$out"; fi
"$kavrel" "${fw[@]}" firmware upgrade "$small" --skip-wait --settle-ms 2000 >"$out" 2>&1
if ! grep -q 'KiB/s' "$out" && grep -q '^firmware upgraded$' "$out"; then pass; else fail "no bar off a terminal"; cat "$out"; fi

# Ctrl-C during the upload aborts it: the upload ends, the device is not reset.
"$kavrel" --json "${slow[@]}" firmware upgrade "$big" >"$out" 2>&1 &
pid=$!
for i in $(seq 300); do
  grep -q '"step":6,.*"sent":[1-9]' "$out" && break
  sleep 0.1
done
kill -INT "$pid"
wait "$pid"
status=$?
if [ "$status" -eq 1 ] && tail -1 "$out" | grep -q '"code":"0x80060314","aborted":true' &&
   ! grep -q '"step":9' "$out" && ! grep -q '"step":7' "$out"; then pass; else fail "ctrl-c (exit $status)"; cat "$out"; fi

# Mistakes: a wait above 120 s, a settle pause above 5000 ms, flash-all on another series, a
# missing file.
"$kavrel" "${fw[@]}" firmware upgrade "$small" --wait 121 >"$out" 2>&1
[ $? -eq 1 ] && grep -q 'Kavrel_SetExtraOptions --wait failed: 0x80000003' "$out" && pass || { fail "wait 121"; cat "$out"; }
"$kavrel" "${fw[@]}" firmware upgrade "$small" --settle-ms 20001 >"$out" 2>&1
[ $? -eq 1 ] && grep -q -- '--settle-ms failed: 0x80000003' "$out" && pass || { fail "settle 5001"; cat "$out"; }
"$kavrel" "${slow[@]}" firmware upgrade "$small" --flash-all >"$out" 2>&1
[ $? -eq 1 ] && grep -q -- '--flash-all failed: 0x80000003' "$out" && pass || { fail "flash-all series 3"; cat "$out"; }
"$kavrel" "${fw[@]}" firmware upgrade "$DEVSIM_WORKDIR/none.bin" >"$out" 2>&1
[ $? -eq 1 ] && grep -q 'Kavrel_Upgrade failed: 0x80000003' "$out" && pass || { fail "missing file"; cat "$out"; }

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
