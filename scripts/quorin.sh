#!/usr/bin/env bash
# Builds the quorin host if needed and runs it; arguments go to quorin (default: info).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
[[ -f build/default/build.ninja ]] || cmake --preset default >/dev/null
cmake --build --preset default --target quorin >/dev/null
exec build/default/tools/quorin/quorin "${@:-info}"
