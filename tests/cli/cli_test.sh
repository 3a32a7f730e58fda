#!/usr/bin/env bash
# The kavrel command against the simulator: every subcommand in human and JSON form, and the
# mistakes a user makes. Usage: cli_test.sh KAVREL_BINARY SOURCE_DIR
set -u
kavrel=$1
source "$2/tools/devsim/devsim-env.sh"
export DEVSIM_WORKDIR=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-cli-test.XXXXXX")
trap 'devsim_stop; rm -rf "$DEVSIM_WORKDIR"' EXIT
devsim_start --device model=KM2401,name=io --device model=KM8111,name=dig,auth=digest,user=admin,password=secret \
  || { cat "$DEVSIM_WORKDIR/devsim.log"; exit 1; }

passed=0
failed=0
out=$DEVSIM_WORKDIR/out
err=$DEVSIM_WORKDIR/err

# check NAME EXPECTED_EXIT PATTERN -- ARGS: runs kavrel, checks the exit status and that
# stdout+stderr match PATTERN (grep -E).
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

io=(--host 127.0.0.1 --http-port "$DEVSIM_io_HTTP" --user root --password pass --type KM2401)
dig=(--host 127.0.0.1 --http-port "$DEVSIM_dig_HTTP" --user admin --password secret --type KM8111)

devsim_ctl POST /devices/io/di '{"levels": [1, 0, 0, 1]}' >/dev/null
devsim_ctl POST /devices/io/uart/1 '{"receive": "hello"}' >/dev/null

check "version" 0 '^Kavrel 3\.0\.3\.6$' -- version
check "version json" 0 '"version":"3.0.3.6"' -- --json version
check "info" 0 'get-di +/cgi-bin/getdi.cgi' -- --type KM2401 info
check "cgi" 0 '^/cgi-bin/dido/setdo.cgi$' -- cgi KM8111-V2.0.0 4
check "cgi json" 0 '"path":"/setup/setdo.cgi"' -- --json cgi KM3111 4
check "di" 0 'input 1: high \(300\)' -- "${io[@]}" di
check "di json" 0 '"inputs":\[300,301,301,300\]' -- --json "${io[@]}" di
check "di async" 0 'input 4: high' -- --async "${io[@]}" di
check "di digest" 0 'input 1: (high|low)' -- "${dig[@]}" di
check "do" 0 'outputs set' -- "${io[@]}" do high low
check "do async json" 0 '^\{"ok":true\}$' -- --json --async "${io[@]}" do keep high
check "uart write" 0 'written' -- "${io[@]}" uart write 2 abc
check "uart read" 0 '^hello$' -- "${io[@]}" uart read 1
check "uart read json" 0 '"bytes":0' -- --json "${io[@]}" uart read 1 --flush
check "http get" 0 'request accepted' -- "${io[@]}" http get /cgi-bin/any.cgi
check "http get read" 0 '^model=KM2401' -- "${io[@]}" http get --read /cgi-bin/sysinfo.cgi
check "http post async" 0 'request accepted' -- --async "${io[@]}" http post '/cgi-bin/x.cgi?a=1'
check "http without type" 0 '^model=KM2401' -- --host 127.0.0.1 --http-port "$DEVSIM_io_HTTP" --user root --password pass http get --read /cgi-bin/sysinfo.cgi
check "verbose" 0 'outputs set' -- -v "${io[@]}" do high
# Settings from the environment.
KAVREL_HOST=127.0.0.1 KAVREL_HTTP_PORT=$DEVSIM_io_HTTP KAVREL_USER=root KAVREL_PASSWORD=pass KAVREL_TYPE=KM2401 \
  check "environment" 0 'input 1: high' -- di

# Firmware files, written here from the format: a package with a scrambled version and a
# language tag, and a plain image whose version follows the marker.
python3 - "$DEVSIM_WORKDIR" <<'PY'
import struct, sys
d = sys.argv[1]
scramble = lambda t: bytes((c + i + 48) & 255 for i, c in enumerate(t))
pkg = struct.pack('<I', 0xB80425A3) + struct.pack('<HH', 1, 9) + scramble(b'KM8111-V2')
pkg += struct.pack('<HH', 8, 5) + b'fr-ca'
open(d + '/fw.pkg', 'wb').write(pkg)
open(d + '/fw.img', 'wb').write(b'xx_FV_HEAD_:KM3111-V1.0.2\0yy')
PY
check "firmware info" 0 'version: KM8111-V2' -- firmware info "$DEVSIM_WORKDIR/fw.pkg"
check "firmware info language" 0 'language: French_Canadian' -- firmware info "$DEVSIM_WORKDIR/fw.pkg"
check "firmware info json" 0 '"version":"KM8111-V2".*"plain_image":false,"package_type":2' -- --json firmware info "$DEVSIM_WORKDIR/fw.pkg"
check "firmware info plain" 0 'kind: plain image' -- firmware info "$DEVSIM_WORKDIR/fw.img"
check "firmware info missing" 1 '0x80000003' -- firmware info "$DEVSIM_WORKDIR/none"

# Mistakes.
check "no host" 1 'no device host: give --host or set KAVREL_HOST' -- --type KM2401 di
check "wrong password" 1 '0x80070082 KAVREL_T_E_UNAUTHORIZED' -- --host 127.0.0.1 --http-port "$DEVSIM_io_HTTP" --user root --password nope --type KM2401 di
check "wrong password async" 1 'status 201|failed' -- --async --host 127.0.0.1 --http-port "$DEVSIM_io_HTTP" --user root --password nope --type KM2401 di
check "unknown type" 1 'unknown --type' -- --host 127.0.0.1 --type XX0000 di
check "bad level" 2 'bad level "up"' -- "${io[@]}" do up
check "no level set" 1 '0x80000003 KAVREL_E_INVALIDARG' -- "${io[@]}" do keep keep
check "unsafe serial data" 1 '0x80000003' -- "${io[@]}" uart write 1 'a b'
check "relative path" 1 '0x80000003' -- "${io[@]}" http get cgi-bin/x.cgi
check "no subcommand" 106 'A subcommand is required' --
check "unknown model cgi" 1 '0x8006030A KAVREL_E_CATALOG' -- cgi NOPE 1
check "refused connection" 1 '0x80070076' -- --host 127.0.0.1 --http-port 1 --type KM2401 di

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
