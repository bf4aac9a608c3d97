#!/usr/bin/env bash
# Builds the quorin host if needed and runs it; arguments go to quorin (default: info). Only
# what quorin needs is installed and built, without the tests and benchmarks: their packages
# come with scripts/test.sh, whose configure turns them back on. The build's progress and
# errors go to standard error, so that quorin's own output stays clean for a pipe.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [[ ! -f build/default/build.ninja ]]; then
  echo "Configuring build/default" >&2
  if ! output=$(cmake --preset default -DQRN_BUILD_TESTS=OFF 2>&1); then
    printf '%s\n' "$output" >&2
    exit 1
  fi
fi
# A build with nothing to do says nothing.
if [[ $(ninja -C build/default -n quorin) != *"ninja: no work to do."* ]]; then
  cmake --build --preset default --target quorin >&2
fi
exec build/default/tools/quorin/quorin "${@:-info}"
