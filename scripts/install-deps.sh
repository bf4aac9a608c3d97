#!/usr/bin/env bash
# Installs the Debian packages that building and testing QuorinNative need, when missing.
set -euo pipefail

packages=(
  cmake ninja-build make g++ binutils pkg-config
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libplist-dev libsimdjson-dev libsqlite3-dev
  libsodium-dev libsecret-1-dev gnome-keyring dbus
  libhiredis-dev redis-server libssl-dev openssl
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
