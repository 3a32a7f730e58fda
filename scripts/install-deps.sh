#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need. Does nothing
# when they are all present already.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libasio-dev libssl-dev libcli11-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-pyftpdlib tinyproxy curl iproute2
  openssl  # the `openssl` command: certificates for the network client's HTTPS tests
  vsftpd
  g++-mingw-w64-x86-64 wine64
  pkg-config dpkg-dev   # the install tests: pkg-config consumers, dpkg-shlibdeps for the packages
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# The tests start vsftpd themselves on a free port; its system service is not wanted.
disable_vsftpd_service() {
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
