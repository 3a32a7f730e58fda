# kavrel-devsim for shell scripts. Source this file, then:
#
#   devsim_start --device model=KM3111,name=cam1 --device model=KM4130,name=cam2
#   curl -u "$DEVSIM_cam1_USER:$DEVSIM_cam1_PASSWORD" \
#        "http://127.0.0.1:$DEVSIM_cam1_HTTP/cgi-bin/sysinfo.cgi"
#   devsim_ctl POST /devices/cam1/di '{"levels": [1, 0]}'
#   devsim_ctl GET '/log?device=cam1'
#   devsim_stop
#
# devsim_start takes kavrel-devsim's own options, starts it in the background with its output
# in $DEVSIM_WORKDIR/devsim.log, watching this shell (--parent-pid), waits until it is ready
# (at most 20 s) and sets:
#   DEVSIM_PID DEVSIM_CONTROL DEVSIM_WORKDIR DEVSIM_DEVICES (names, blank-separated)
#   DEVSIM_<name>_HTTP _FTP _USER _PASSWORD _MODEL _AUTH for each device
# DEVSIM_WORKDIR may be set beforehand to choose the folder. Returns non-zero on failure.

DEVSIM_HOME=$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")" && pwd)

devsim_start() {
  DEVSIM_WORKDIR=${DEVSIM_WORKDIR:-$(mktemp -d "${TMPDIR:-/tmp}/kavrel-devsim.XXXXXX")}
  mkdir -p "$DEVSIM_WORKDIR" || return 1
  local ready="$DEVSIM_WORKDIR/ready.json" i
  rm -f "$ready"
  "$DEVSIM_HOME/kavrel-devsim" --workdir "$DEVSIM_WORKDIR" --ready-file "$ready" \
    --parent-pid $$ "$@" >>"$DEVSIM_WORKDIR/devsim.log" 2>&1 </dev/null &
  DEVSIM_PID=$!
  for i in $(seq 200); do
    [ -s "$ready" ] && break
    if ! kill -0 "$DEVSIM_PID" 2>/dev/null; then
      echo "devsim_start: kavrel-devsim exited; see $DEVSIM_WORKDIR/devsim.log" >&2
      return 1
    fi
    sleep 0.1
  done
  [ -s "$ready" ] || { echo "devsim_start: not ready after 20 s" >&2; devsim_stop; return 1; }
  eval "$(/usr/bin/python3 - "$ready" <<'PY'
import json, shlex, sys
info = json.load(open(sys.argv[1]))
print(f"DEVSIM_CONTROL={info['control']}")
names = []
for d in info["devices"]:
    n = "".join(c if c.isalnum() else "_" for c in d["name"])
    names.append(n)
    for key, field in (("HTTP", "http"), ("FTP", "ftp"), ("USER", "user"),
                       ("PASSWORD", "password"), ("MODEL", "model"), ("AUTH", "auth")):
        print(f"DEVSIM_{n}_{key}={shlex.quote(str(d[field]))}")
print(f"DEVSIM_DEVICES={shlex.quote(' '.join(names))}")
PY
)"
}

# devsim_ctl METHOD PATH [JSON]: one control request; prints the answer.
devsim_ctl() {
  curl -sS -X "$1" ${3:+-H 'Content-Type: application/json' --data "$3"} \
    "http://127.0.0.1:$DEVSIM_CONTROL$2"
}

# devsim_stop: SIGTERM, then waits for the simulator to end.
devsim_stop() {
  [ -n "${DEVSIM_PID:-}" ] || return 0
  kill -TERM "$DEVSIM_PID" 2>/dev/null
  wait "$DEVSIM_PID" 2>/dev/null
  DEVSIM_PID=
}
