#!/usr/bin/env bash
# kavrel fleet against the simulator: some thirty devices, three of them faulty (a wrong
# password in the inventory, a 500, one that never answers), read and backed up side by side;
# malformed inventories refused before any request. Usage: cli_fleet_test.sh KAVREL_BINARY SOURCE_DIR
set -u
kavrel=$1
source "$2/tools/devsim/devsim-env.sh"
export DEVSIM_WORKDIR=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-cli-fleet.XXXXXX")
trap 'devsim_stop; rm -rf "$DEVSIM_WORKDIR"' EXIT
inv=$DEVSIM_WORKDIR/inventory.csv
devsim_start --many KM3111=16 --many KM4130=8 --many KM2401=6 --inventory "$inv" \
  || { cat "$DEVSIM_WORKDIR/devsim.log"; exit 1; }
out=$DEVSIM_WORKDIR/out
err=$DEVSIM_WORKDIR/err
source "$2/tests/cli/check.sh"

# The faults: km3111-02's inventory names a wrong password, km4130-03 answers 500, km2401-04
# never answers (the fleet's time-out ends its wait).
echo wrong >"$DEVSIM_WORKDIR/wrong-password"
sed -i "s|^\(km3111-02,.*\),[^,]*$|\1,$DEVSIM_WORKDIR/wrong-password|" "$inv"
devsim_ctl POST /devices/km4130-03/faults '{"status": 500}' >/dev/null
devsim_ctl POST /devices/km2401-04/faults '{"no_answer": true}' >/dev/null
fleet=(fleet --inventory "$inv" --timeout 2000)

# json_check NAME [COUNT BAD...]: stdout holds one JSON line per device (COUNT, 30 by default)
# and a summary; the BAD devices (the three faulty ones by default) failed, every other one
# succeeded.
json_check() {
  local name=$1
  shift
  [ $# -gt 0 ] || set -- 30 km3111-02 km4130-03 km2401-04
  if /usr/bin/python3 - "$out" "$@" <<'PY'; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $name"; cat "$out"; fi
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
*devices, summary = lines
count, bad = int(sys.argv[2]), set(sys.argv[3:])
assert summary["summary"] and summary["devices"] == count and summary["failed"] == len(bad), summary
assert len(devices) == count, len(devices)
for d in devices:
    assert d["ok"] == (d["device"] not in bad), d
    assert d["ok"] or d["code"] != "0x00000000", d
PY
}

check "di over the fleet" 1 '30 devices: 27 ok, 3 failed' -- "${fleet[@]}" di
check "di names each failure" 1 'km3111-02 +failed +0x000000C9 credentials refused' -- "${fleet[@]}" di
check "di json" 1 '"summary":true' -- --json "${fleet[@]}" di
json_check "di json lines"

# A failed fetch keeps the file already there.
backup=$DEVSIM_WORKDIR/backup
mkdir -p "$backup" && echo "old configuration" >"$backup/km4130-03.ini"
check "config backup" 1 '"failed":3' -- --json "${fleet[@]}" config backup "$backup"
json_check "config backup json lines"
# The device that failed keeps its old file; every other one has its configuration, whole.
if [ "$(cat "$backup/km4130-03.ini")" = "old configuration" ] && grep -q '^\[' "$backup/km3111-05.ini" \
   && [ "$(ls "$backup" | grep -c '\.ini$')" -eq 28 ] && ! ls "$backup" | grep -qv '\.ini$'; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); echo "FAIL: backup files:"; ls -l "$backup"; cat "$backup/km4130-03.ini"
fi
# A relative password_file is read beside the inventory.
echo pass >"$DEVSIM_WORKDIR/secret"
{ head -1 "$inv"; sed -n 2p "$inv" | sed 's|,[^,]*$|,secret|'; } >"$DEVSIM_WORKDIR/relative.csv"
check "relative password file" 0 '1 devices: 1 ok' -- fleet --inventory "$DEVSIM_WORKDIR/relative.csv" di
check "filters" 0 '2 devices: 2 ok, 0 failed' -- "${fleet[@]}" --name km3111-01,km4130-01 di
check "type filter" 0 '5 devices: 5 ok' -- "${fleet[@]}" --type KM2401 --name km2401-01,km2401-02,km2401-03,km2401-05,km2401-06 di

check "http get" 1 '3 devices: 2 ok, 1 failed' -- "${fleet[@]}" --name km3111-01,km2401-02,km4130-03 http get '/cgi-bin/sysinfo.cgi?x=1'
if [ "$(devsim_ctl GET '/log?device=km2401-02' | /usr/bin/python3 -c '
import json, sys
e = json.load(sys.stdin)["entries"][-1]
print(e["method"], e["path"], e["query"], e["status"])')" = "GET /cgi-bin/sysinfo.cgi x=1 200" ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); echo "FAIL: http get did not reach km2401-02 as sent"
fi

# The device commands over three devices, one of them with a wrong password: each healthy
# device reports its own result in its JSON line, the faulty one fails, the exit status is 1.
few=("${fleet[@]}" --name km2401-01,km2401-02,km3111-02)
call_case() {  # NAME PATTERN ARGS...: every healthy device's line matches PATTERN
  local name=$1 pattern=$2
  shift 2
  check "$name" 1 "$pattern" -- --json "${few[@]}" "$@"
  json_check "$name json lines" 3 km3111-02
}
call_case "do" '"device":"km2401-02","ok":true.*"detail":"outputs set"' do high low
call_case "ptz" '"device":"km2401-02","ok":true.*"detail":"sent"' ptz 1 up
call_case "move" '"device":"km2401-02","ok":true.*"detail":"moved"' move 1 10 20
call_case "preset" '"device":"km2401-02","ok":true.*"detail":"preset door added"' preset add 1 door
call_case "setparam" '"device":"km2401-02","ok":true.*"detail":"set"' setparam --hostname fleetcam
call_case "http get --read" '"device":"km2401-02","ok":true.*"detail":"model=KM2401' http get --read /cgi-bin/sysinfo.cgi
call_case "motion get" '"device":"km2401-02","ok":true.*"detail":"1 window' motion get
call_case "open" '"device":"km2401-02","ok":true.*"detail":"KM2401-V' open
call_case "config get" '"device":"km2401-02","ok":true.*"detail":"fleetcam"' config get SYSTEM 'host name'
call_case "config set" '"device":"km2401-02","ok":true.*"detail":"\[SYSTEM\] <host name> = fleet2' \
  config set SYSTEM 'host name' fleet2
call_case "config push" '"device":"km2401-02","ok":true.*"detail":"configuration sent"' config push
check "a bad level sends nothing" 2 'bad level "up"' -- "${few[@]}" do up
# What the devices themselves now hold.
if /usr/bin/python3 - "$DEVSIM_CONTROL" <<'PY'; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: device state after the commands"; fi
import json, sys, urllib.request
def get(path):
    return json.load(urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}{path}"))
for name in ("km2401-01", "km2401-02"):
    assert get(f"/devices/{name}/do")["levels"][:2] == [1, 0], get(f"/devices/{name}/do")
    assert "door" in json.dumps(get(f"/devices/{name}/ptz")), get(f"/devices/{name}/ptz")
PY

# config restore: a backup written back after a change. km2401-02 has no file and fails
# alone, named; km3111-01's file cannot be read back value by value and is refused before
# anything reaches it; the rest get their backed-up configuration again.
saved=$DEVSIM_WORKDIR/saved
trio=("${fleet[@]}" --name km2401-01,km2401-02,km3111-01)
check "backup before restore" 0 '3 devices: 3 ok' -- "${trio[@]}" config backup "$saved"
check "change after backup" 0 '3 devices: 3 ok' -- "${trio[@]}" config set SYSTEM 'host name' changed
rm "$saved/km2401-02.ini"
printf 'stray value\n[SYSTEM]\n' >"$saved/km3111-01.ini"
sent_before=$(devsim_ctl GET '/log?device=km3111-01' | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["entries"]))')
check "restore" 1 'km2401-02 +failed +0x80060308 KAVREL_E_FILE .*km2401-02.ini' -- "${trio[@]}" config restore "$saved"
check "restore names the bad line" 1 'km3111-01 +failed +0x80000003 .*km3111-01.ini: line 1: a value outside a key' \
  -- "${trio[@]}" config restore "$saved"
check "restore json" 1 '"failed":2' -- --json "${trio[@]}" config restore "$saved"
json_check "restore json lines" 3 km2401-02 km3111-01
sent_after=$(devsim_ctl GET '/log?device=km3111-01' | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["entries"]))')
if [ "$sent_before" = "$sent_after" ] && /usr/bin/python3 - "$DEVSIM_WORKDIR" "$saved" <<'PY'; then
import sys
work, saved = sys.argv[1:]
def config(name):
    return open(f"{work}/{name}/ftp/config.ini", newline="").read().replace("\r\n", "\n").strip()
assert config("km2401-01") == open(f"{saved}/km2401-01.ini").read().strip(), config("km2401-01")
assert "<host name>\nchanged" in config("km2401-02"), config("km2401-02")
assert "<host name>\nchanged" in config("km3111-01"), config("km3111-01")
PY
  passed=$((passed + 1))
else
  failed=$((failed + 1)); echo "FAIL: restore: configurations ($sent_before, $sent_after requests to km3111-01)"
fi
check "restore from no folder" 2 'no folder' -- "${trio[@]}" config restore "$DEVSIM_WORKDIR/none"

# Ctrl-C while km2401-04 keeps its request unanswered: withdrawn, every device reported.
"$kavrel" --json fleet --inventory "$inv" --timeout 60000 di >"$out" 2>"$err" &
pid=$!
sleep 2
kill -INT $pid
for i in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
wait $pid
rc=$?
if [ $rc -eq 1 ] && grep -q interrupted "$err" && /usr/bin/python3 - "$out" <<'PY'; then
import json, sys
*devices, summary = [json.loads(l) for l in open(sys.argv[1])]
assert summary["devices"] == 30 == len(devices), summary
hung = [d for d in devices if d["device"] == "km2401-04"][0]
assert not hung["ok"] and hung["name"] == "aborted", hung
PY
  passed=$((passed + 1))
else
  failed=$((failed + 1)); echo "FAIL: Ctrl-C: exit $rc"; cat "$out" "$err"
fi

# Malformed inventories: exit 2, the line named, and no request reaches any device.
before=$(devsim_ctl GET /log | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["entries"]))')
head=$(head -1 "$inv")
row=$(sed -n 2p "$inv")
bad=$DEVSIM_WORKDIR/bad.csv
inventory_case() {  # NAME PATTERN LINES...: an inventory of LINES is refused with PATTERN
  local name=$1 pattern=$2
  shift 2
  printf '%s\n' "$@" >"$bad"
  check "inventory: $name" 2 "$pattern" -- fleet --inventory "$bad" di
}
inventory_case "missing column" 'bad.csv:1: header lacks the column ftp_port' \
  "name,host,http_port,user,type" "$row"
inventory_case "bad port" 'bad.csv:4: bad http_port "80000"' \
  "$head" "# a comment" "$row" "x,127.0.0.1,80000,21,root,KM3111,"
inventory_case "duplicate name" 'bad.csv:3: duplicate name km3111-01' "$head" "$row" "$row"
inventory_case "short line" 'bad.csv:3: 3 fields where the header has 7' "$head" "$row" "y,127.0.0.1,80"
inventory_case "empty host" 'bad.csv:2: empty host' "$head" "z,,80,21,root,KM3111,"
inventory_case "unreadable password file" 'bad.csv:2: cannot read password_file no-such-file' \
  "name,host,http_port,ftp_port,user,type,password_file" "z,127.0.0.1,80,21,root,KM3111,no-such-file"
inventory_case "unset password variable" 'bad.csv:2: environment variable KAVREL_FLEET_UNSET is not set' \
  "name,host,http_port,ftp_port,user,type,password_env" "z,127.0.0.1,80,21,root,KM3111,KAVREL_FLEET_UNSET"
check "no inventory" 2 'no inventory' -- fleet di
check "missing file" 2 'cannot read inventory' -- fleet --inventory "$DEVSIM_WORKDIR/none.csv" di
after=$(devsim_ctl GET /log | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["entries"]))')
if [ "$before" = "$after" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: a bad inventory sent $((after - before)) requests"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
