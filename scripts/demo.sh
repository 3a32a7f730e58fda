#!/usr/bin/env bash
# The main job: install what is needed, build, start the device simulator with a few devices
# of the model line-up, and take the kavrel command on a short tour of them: describe each
# device, read its inputs, set its outputs, write and read a serial port, move a camera and
# store a preset, set a motion window, run a command asynchronously, and let the plain C host
# example read inputs. Then stop the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --for demo
# A build folder of its own, with the tests and benchmarks switched off: the demo needs
# neither their packages nor their build time, and the tests' folder (build/default) keeps
# its own settings.
echo "building (cmake --preset demo) ..."
cmake --preset demo >/dev/null
cmake --build --preset demo --target kavrel kavrel_example_host Morvane >/dev/null

kavrel_bin=$PWD/build/demo/tools/kavrel/kavrel
host_bin=$PWD/build/demo/examples/kavrel_example_host
source tools/devsim/devsim-env.sh
trap devsim_stop EXIT
devsim_start --device model=KM2401,name=videoserver \
             --device model=KM3111,name=camera,down=0.3 \
             --device model=KM8111,name=encoder,auth=digest,user=admin,password=secret \
             --inventory "${DEVSIM_WORKDIR:=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-demo.XXXXXX")}/inventory.csv"
echo "simulator running: videoserver (KM2401, Basic), camera (KM3111, Basic)," \
     "encoder (KM8111, Digest only); request log in $DEVSIM_WORKDIR/requests.jsonl"

step() { printf '\n== %s\n' "$*"; }
# kv DEVICE ARGS...: runs kavrel against a simulated device and shows the command line.
kv() {
  local name=$1 type
  shift
  local port_var="DEVSIM_${name}_HTTP" user_var="DEVSIM_${name}_USER" pass_var="DEVSIM_${name}_PASSWORD"
  local model_var="DEVSIM_${name}_MODEL"
  type=${!model_var}
  printf '$ kavrel --host 127.0.0.1 --http-port %s --user %s --password %s --type %s %s\n' \
    "${!port_var}" "${!user_var}" "${!pass_var}" "$type" "$*"
  "$kavrel_bin" --host 127.0.0.1 --http-port "${!port_var}" --user "${!user_var}" \
    --password "${!pass_var}" --type "$type" "$@"
}

"$kavrel_bin" version
for device in videoserver camera encoder; do
  step "$device: describe it"
  kv "$device" info
  kv "$device" http get --read /cgi-bin/sysinfo.cgi
done

step "digital inputs (the simulator's inputs set through its control port)"
devsim_ctl POST /devices/videoserver/di '{"levels": [1, 0, 1, 0]}' >/dev/null
devsim_ctl POST /devices/camera/di '{"levels": [0, 1]}' >/dev/null
kv videoserver di
kv camera --json di
kv encoder di

step "digital outputs"
kv videoserver do high low
kv camera do keep high
echo "the camera now reports its outputs as: $(devsim_ctl GET /devices/camera/do)"

step "serial ports"
kv videoserver uart write 1 'PTZ%20HOME'
echo "port 1 of the video server received: $(devsim_ctl GET /devices/videoserver/uart/1)"
devsim_ctl POST /devices/videoserver/uart/2 '{"receive": "OK 42"}' >/dev/null
kv videoserver uart read 2 --size 64

step "camera movement: pan, a coordinate, a preset stored and recalled"
kv videoserver ptz 2 left
kv videoserver move 2 120 -40
kv videoserver preset add 2 door
kv videoserver ptz 2 home
kv videoserver --async preset recall 2 door
echo "the video server's cameras: $(devsim_ctl GET /devices/videoserver/ptz)"

step "motion detection windows: read, change one, read back"
kv camera motion get
kv camera motion set --window 2 --name Yard --x 200 --y 40 --w 120 --h 90 --percent 25 --sensitivity 80
kv camera --json motion get
kv videoserver motion get

step "the camera with its whole configuration: open it, change a value, read it back"
kv camera open
kv camera config set SYSTEM "host name" lobby-camera
echo "the camera's own configuration file now says:"
grep -A1 '<host name>' "$DEVSIM_WORKDIR/camera/ftp/config.ini" | tr -d '\r'
kv camera config get SYSTEM "host name"

step "a firmware upgrade of the camera (an image built here; --skip-wait: no wait for its return; --settle-ms 2000: the simulated camera is back within a second)"
/usr/bin/python3 - "$DEVSIM_WORKDIR/camera-firmware.bin" <<'PY'
import sys
n = 200000
payload = bytearray((ord("a") + i % 23) for i in range(n))
payload[8:26] = b"\0KM3111-V200-0A1B\0"
data = n.to_bytes(4, "big") + bytes(payload)
open(sys.argv[1], "wb").write(data + bytes([(256 - sum(data) % 256) % 256]))
PY
kv camera --ftp-port "$DEVSIM_camera_FTP" firmware upgrade "$DEVSIM_WORKDIR/camera-firmware.bin" --skip-wait --settle-ms 2000
echo "the camera restarted after the upload: $(devsim_ctl GET /devices/camera/firmware)"

step "one command asynchronously (the result arrives through the library's callback)"
kv encoder --async do high low

step "a mistake: the wrong password"
"$kavrel_bin" --host 127.0.0.1 --http-port "$DEVSIM_camera_HTTP" --user root --password wrong \
  --type KM3111 di || echo "(exit status $?)"

step "the plain C host example (examples/host.c) against the video server"
"$host_bin" 127.0.0.1 "$DEVSIM_videoserver_HTTP" root pass KM2401

step "every device at once: kavrel fleet over the simulator's inventory"
cat "$DEVSIM_WORKDIR/inventory.csv"
echo '$ kavrel fleet --inventory inventory.csv di'
"$kavrel_bin" fleet --inventory "$DEVSIM_WORKDIR/inventory.csv" di
echo '$ kavrel fleet --inventory inventory.csv config backup backup'
"$kavrel_bin" fleet --inventory "$DEVSIM_WORKDIR/inventory.csv" config backup "$DEVSIM_WORKDIR/backup"
ls -l "$DEVSIM_WORKDIR/backup"

step "what reached the devices"
/usr/bin/python3 - "$DEVSIM_WORKDIR/requests.jsonl" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e["proto"] == "http":
        q = "?" + e["query"] if e["query"] else ""
        print(f'{e["device"]:12} {e["method"]:4} {e["path"]}{q} -> {e["status"]}')
PY
echo
echo "demo finished"
