#!/usr/bin/env bash
# kavrel fleet firmware upgrade on eight simulated devices, four at a time, one of them
# refusing the FTP login. Usage: cli_fleet_upgrade_test.sh KAVREL_BINARY SOURCE_DIR
set -u
kavrel=$1
source "$2/tools/devsim/devsim-env.sh"
export DEVSIM_WORKDIR=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-cli-fleet-fw.XXXXXX")
trap 'devsim_stop; rm -rf "$DEVSIM_WORKDIR"' EXIT
inv=$DEVSIM_WORKDIR/inventory.csv
devsim_start --many RZ7161=8,down=0.3 --inventory "$inv" || { cat "$DEVSIM_WORKDIR/devsim.log"; exit 1; }
devsim_ctl POST /devices/rz7161-05/faults '{"ftp": "refuse_login"}' >/dev/null

# A plain image (see cli_firmware_test.sh): big-endian length, payload with the version
# token, a check byte that makes the byte sum 0.
image=$DEVSIM_WORKDIR/fw.bin
/usr/bin/python3 - "$image" 200000 RZ7161 <<'PY'
import sys
path, n, model = sys.argv[1], int(sys.argv[2]), sys.argv[3]
payload = bytearray((ord("a") + i % 23) for i in range(n))
token = b"\0" + model.encode() + b"-V200-0A1B\0"
payload[8:8 + len(token)] = token
data = n.to_bytes(4, "big") + bytes(payload)
open(path, "wb").write(data + bytes([(256 - sum(data) % 256) % 256]))
PY
out=$DEVSIM_WORKDIR/out
"$kavrel" --json fleet --inventory "$inv" --parallel 4 firmware upgrade "$image" --skip-wait \
  --settle-ms 2000 >"$out" 2>"$DEVSIM_WORKDIR/err"
rc=$?
devsim_ctl GET /log >"$DEVSIM_WORKDIR/log.json"
# Seven upgraded, the refused one reported; the simulator's FTP log shows at most four
# devices' sessions overlapping, and more than one.
if [ $rc -eq 1 ] && /usr/bin/python3 - "$out" "$DEVSIM_WORKDIR/log.json" <<'PY'
import json, sys
*devices, summary = [json.loads(l) for l in open(sys.argv[1])]
assert summary["devices"] == 8 and summary["ok"] == 7 and summary["failed"] == 1, summary
for d in devices:
    assert d["ok"] == (d["device"] != "rz7161-05"), d
spans = {}
for e in json.load(open(sys.argv[2]))["entries"]:
    if e["proto"] == "ftp":
        first, last = spans.get(e["device"], (e["time"], e["time"]))
        spans[e["device"]] = (min(first, e["time"]), max(last, e["time"]))
edges = sorted([(a, 1) for a, _ in spans.values()] + [(b, -1) for _, b in spans.values()],
               key=lambda x: (x[0], x[1]))
running = peak = 0
for _, step in edges:
    running += step
    peak = max(peak, running)
assert 1 < peak <= 4, (peak, spans)
print("peak FTP overlap", peak)
PY
then echo "1 passed, 0 failed"; exit 0; fi
echo "FAIL: exit $rc"; cat "$out" "$DEVSIM_WORKDIR/err"
exit 1
