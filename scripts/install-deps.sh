#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need. Does nothing
# when they are all present already.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libasio-dev libssl-dev libcli11-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-pyftpdlib tinyproxy curl iproute2
  g++-mingw-w64-x86-64 wine64
  pkg-config dpkg-dev   # the install tests: pkg-config consumers, dpkg-shlibdeps for the packages
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
