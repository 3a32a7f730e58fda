#!/usr/bin/env bash
# Figures, one run: `kavrel fleet di` over N devices (one inventory line each, all served by
# the local responder), the time to the last result and the tear-down apart, next to a loop
# of N `kavrel di` processes. Usage: fleet_bench.sh KAVREL RESPONDER [N]   (default 1000)
set -eu
kavrel=$1 responder=$2 n=${3:-1000}
work=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-fleet-bench.XXXXXX")
"$responder" "$work/port" &
pid=$!
trap 'kill $pid; rm -rf "$work"' EXIT
for i in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
{
  echo "name,host,http_port,ftp_port,user,type"
  for i in $(seq "$n"); do echo "cam$i,127.0.0.1,$port,21,root,KM3111"; done
} >"$work/inventory.csv"
now() { date +%s.%N; }

start=$(now)
"$kavrel" --json fleet --inventory "$work/inventory.csv" di >"$work/fleet.jsonl"
total=$(echo "$(now) - $start" | bc)
/usr/bin/python3 - "$work/fleet.jsonl" "$total" <<'PY'
import json, sys
summary = json.loads(open(sys.argv[1]).readlines()[-1])
total = float(sys.argv[2])
print(f"kavrel fleet di, {summary['devices']} devices ({summary['ok']} ok): "
      f"last result after {summary['seconds']:.2f} s, process {total:.2f} s "
      f"(tear-down and start-up {total - summary['seconds']:.2f} s)")
PY

start=$(now)
failed=0
for i in $(seq "$n"); do
  "$kavrel" --host 127.0.0.1 --http-port "$port" --user root --password pass --type KM3111 di \
    >/dev/null || failed=$((failed + 1))
done
echo "loop of $n kavrel di processes: $(echo "$(now) - $start" | bc) s ($failed failed)"
