#!/usr/bin/env bash
# Installs the Debian packages QuorinNative needs, when missing: what building and running
# quorin needs, and with --test also what the tests, benchmarks, fuzzing and the install and
# package checks need, so that a first run of quorin waits only for the first.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libcli11-dev libplist-dev libsimdjson-dev libsqlite3-dev
  libsodium-dev libsecret-1-dev libhiredis-dev libssl-dev
)
test_packages=(
  make binutils clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  gnome-keyring dbus redis-server openssl
  dpkg-dev file man-db
  python3-pytest python3-setuptools python3-wheel python3-venv python3-pip
)
# The Node package is built and tested with Node's npm and node-gyp; Debian's own Node needs
# its npm package, which brings node-gyp and Node's headers.
if ! command -v npm >/dev/null; then test_packages+=(nodejs npm); fi
case ${1:-} in
  "") ;;
  --test) packages+=("${test_packages[@]}") ;;
  *) echo "usage: install-deps.sh [--test]" >&2; exit 2 ;;
esac

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
