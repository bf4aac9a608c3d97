#!/usr/bin/env bash
# Installs a build into a staging prefix, then builds the example hosts against it and runs
# them: the C host through CMake and through pkg-config, the C++ host through CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage

cmake --install "$build" --prefix "$stage" >/dev/null
for example in c-host cpp-host; do
  cmake -S "examples/$example" -B "$work/$example-cmake" -G Ninja \
    -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$work/$example-cmake" >/dev/null
done
mkdir "$work/c-host-pkg-config"
pc_path=$(dirname "$(find "$stage" -name quorin-native.pc)")
# A host records libdir in its rpath as it is: it must be a plain path inside the prefix.
libdir=$(PKG_CONFIG_PATH=$pc_path pkg-config --variable=libdir quorin-native)
if [[ "$libdir" != "$(realpath -ms "$libdir")" || "$libdir" != "$stage"/* ]]; then
  echo "check-install: the pkg-config file's libdir is $libdir" >&2
  exit 1
fi
PKG_CONFIG_PATH=$pc_path make -s -C examples/c-host OUT="$work/c-host-pkg-config" \
  CFLAGS="-O2 -std=c11 -Wall -Wextra -Wpedantic -Werror"

for build_kind in cmake pkg-config; do
  container=$work/device-$build_kind
  cp -R examples/legacy-container "$container"
  echo "-- c-host ($build_kind)"
  "$work/c-host-$build_kind/c-host" "$container" "$work/cloud"
done
echo "-- cpp-host (cmake)"
XDG_DATA_HOME=$work/data "$work/cpp-host-cmake/cpp-host"
