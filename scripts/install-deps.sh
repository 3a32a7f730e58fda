#!/usr/bin/env bash
# Installs the Debian 12 packages that a purpose needs, and does nothing when they are all
# present already.
#   scripts/install-deps.sh [--for demo|test]     (default: test)
# demo: what scripts/demo.sh builds and runs (the library, kavrel, the C host example, the
#       simulator). test: everything scripts/test.sh needs, a superset of demo's list.
set -euo pipefail
purpose=test
case "${1:-}" in
  "") ;;
  --for) purpose=${2:-} ;;
  --for=*) purpose=${1#--for=} ;;
  *) echo "usage: $0 [--for demo|test]" >&2; exit 2 ;;
esac
demo_packages=(
  cmake ninja-build g++
  libasio-dev libssl-dev libcli11-dev
  python3 python3-pyftpdlib  # the simulator (its FTP side)
  curl                       # devsim_ctl, the simulator's control port from a shell
)
test_packages=(
  "${demo_packages[@]}"
  clang libclang-rt-14-dev   # sanitizers and libFuzzer
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  tinyproxy iproute2 vsftpd
  openssl  # the `openssl` command: certificates for the network client's HTTPS tests
  g++-mingw-w64-x86-64 wine64
  pkg-config dpkg-dev   # the install tests: pkg-config consumers, dpkg-shlibdeps for the packages
  libcurl4-openssl-dev  # kavrel_bench compares the synchronous request with a libcurl request
)
case "$purpose" in
  demo) packages=("${demo_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *) echo "$0: --for takes demo or test, not '$purpose'" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# The tests start vsftpd themselves on a free port; its system service is not wanted.
disable_vsftpd_service() {
  [ "$purpose" = test ] || return 0
  if [ -d /run/systemd/system ]; then
    "${sudo_cmd[@]}" systemctl disable --now vsftpd >/dev/null 2>&1 || true
  fi
}
if [ ${#missing[@]} -eq 0 ]; then
  disable_vsftpd_service
  exit 0
fi
echo "installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
disable_vsftpd_service
