#!/usr/bin/env bash
# Installs the build (MODE prefix: cmake --install into a prefix that is then moved; MODE deb:
# the Debian packages, extracted with dpkg-deb -x) and consumes the result the way an
# integrator does, with no variable of ours set and only the installed lib folder on the
# loader path. Usage: install_test.sh prefix|deb SOURCE_DIR BUILD_DIR
set -euo pipefail
mode=$1 source_dir=$2 build_dir=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-install-test.XXXXXX")
devsim_pid=
cleanup() {
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null && wait "$devsim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Nothing of ours in the environment: the installed tree must stand on its own.
unset MORVANE_MODELS_FILE
for v in $(env | sed -n 's/^\(KAVREL_[A-Za-z0-9_]*\)=.*/\1/p'); do unset "$v"; done

if [ "$mode" = prefix ]; then
  cmake --install "$build_dir" --prefix "$work/staged" >"$work/install.log"
  # Copy the tree elsewhere and remove the original, so that nothing can reach back to it.
  cp -a "$work/staged" "$work/copied"
  rm -rf "$work/staged"
  root=$work/copied
  libdir=$root/lib
else
  (cd "$build_dir" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack"; }
  for p in libkavrel3 libkavrel-dev kavrel-tools; do
    deb=$(ls "$work/debs/${p}_"*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || fail "package $p was not built (have: $(ls "$work/debs"))"
    echo "==== $(basename "$deb")"
    dpkg-deb --info "$deb" | sed -n "/Architecture:/,\$p"
    dpkg-deb --contents "$deb" | awk '{print "  " $NF}'
    dpkg-deb -x "$deb" "$work/root"
  done
  dpkg-deb --field "$work/debs"/kavrel-tools_*.deb Depends | grep -q 'libkavrel3 (= ' ||
    fail "kavrel-tools does not depend on libkavrel3"
  dpkg-deb --field "$work/debs"/libkavrel3_*.deb Depends | grep -q 'libstdc++6' ||
    fail "libkavrel3's dependencies were not computed by dpkg-shlibdeps"
  root=$work/root/usr
  libdir=$root/lib
fi

[ -L "$libdir/libKavrel.so.3" ] || fail "libKavrel.so.3 is missing"
readelf -d "$libdir/libKavrel.so.3" | grep -q 'SONAME.*\[libKavrel.so.3\]' || fail "SONAME"
for h in kavrel.h kavrel_results.h kavrel_version.h netclient.h; do
  [ -f "$root/include/kavrel/$h" ] || fail "header $h is not installed"
done

expect_consumer() {  # PROGRAM: runs it with only the installed lib folder on the loader path
  local got
  got=$(LD_LIBRARY_PATH=$libdir "$1") || fail "$1 failed: $got"
  echo "$got" | grep -qx 'version 3\.0\.3\.6' || fail "$1: version: $got"
  echo "$got" | grep -qx 'KM3111 command 3: /cgi-bin/getdi\.cgi' || fail "$1: model record: $got"
}

# A CMake project of the integrator's, outside the source tree.
cp -r "$source_dir/examples/consumer" "$work/cmake-consumer"
cmake -S "$work/cmake-consumer" -B "$work/cmake-consumer/build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$root" >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "configure"; }
cmake --build "$work/cmake-consumer/build" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "build"; }
expect_consumer "$work/cmake-consumer/build/consumer"

# The same program built with the C compiler and pkg-config alone.
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs kavrel)
cc -o "$work/pc-consumer" "$work/cmake-consumer/consumer.c" $flags
expect_consumer "$work/pc-consumer"
PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --exists --print-errors netclient || fail "netclient.pc"

# The installed tools.
LD_LIBRARY_PATH=$libdir "$root/bin/kavrel" --help >"$work/help" || fail "kavrel --help"
grep -q 'Subcommands:' "$work/help" || fail "kavrel --help printed no subcommands"
LD_LIBRARY_PATH=$libdir "$root/bin/kavrel" version | grep -qx 'Kavrel 3\.0\.3\.6' || fail "kavrel version"
"$root/bin/kavrel-devsim" --device model=KM3111,name=cam1 >"$work/devsim.log" 2>&1 &
devsim_pid=$!
for _ in $(seq 1 100); do
  grep -q 'KAVREL-DEVSIM READY' "$work/devsim.log" && break
  kill -0 "$devsim_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q 'KAVREL-DEVSIM READY' "$work/devsim.log" || { cat "$work/devsim.log"; fail "kavrel-devsim did not start"; }
kill "$devsim_pid"; wait "$devsim_pid" 2>/dev/null || true; devsim_pid=

# No installed file names the source or the build folder.
hits=$(grep -r -l -a -F -e "$source_dir" -e "$build_dir" "$root" || true)
[ -z "$hits" ] || fail "installed files name a source or build path: $hits"
echo "PASS: $mode"
