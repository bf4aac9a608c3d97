#!/usr/bin/env bash
# Makes the Debian packages of a build, installs them into /usr with dpkg, imports the Python
# package with Debian's /usr/bin/python3, builds and runs the README's examples against them
# with the README's commands as written, checks the installed quorin with its man page and
# completion, then purges the packages again. It changes the system (sudo when not root), so
# CI runs it on its own machine; scripts/test.sh does not.
#
#   check-packages.sh [BUILD-DIR]   (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
packages=(quorin python3-quorin libquorinnative-dev libquorinnative1)
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

# Purging at the end must not take away packages someone installed before.
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep 'ok installed' >/dev/null; then
    echo "check-packages: $package is installed already; remove it first" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap '"${sudo[@]}" dpkg --purge "${packages[@]}" >/dev/null; rm -rf "$work"' EXIT

log=$work/cpack.log
cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
recommends=$(dpkg-deb -f "$work"/packages/quorin_*.deb Recommends)
[[ "$recommends" == *bash-completion* ]] || { echo "check-packages: quorin recommends '$recommends'" >&2; exit 1; }
"${sudo[@]}" dpkg -i "$work"/packages/*.deb
libdir=$(pkg-config --variable=libdir quorin-native)
[[ "$libdir" == /usr/lib* && "$libdir" == "$(realpath -ms "$libdir")" ]] ||
  { echo "check-packages: the pkg-config file's libdir is $libdir" >&2; exit 1; }

echo "-- the installed Python package, with Debian's /usr/bin/python3"
env -u QUORIN_NATIVE_LIBRARY -u PYTHONPATH /usr/bin/python3 -c 'import quorin' ||
  { echo "check-packages: python3-quorin does not import" >&2; exit 1; }
where=$(env -u QUORIN_NATIVE_LIBRARY -u PYTHONPATH /usr/bin/python3 -c 'import quorin; print(quorin.__file__)')
[[ "$where" == /usr/lib/python3/dist-packages/quorin/* ]] ||
  { echo "check-packages: quorin imported from $where" >&2; exit 1; }

scripts/check-readme.sh --installed
echo "-- the installed quorin"
[[ $(command -v quorin) == /usr/bin/quorin ]]
quorin --help >/dev/null
tests/cli/check_docs.sh /usr/bin/quorin "$(man -w quorin)" \
  /usr/share/bash-completion/completions/quorin
