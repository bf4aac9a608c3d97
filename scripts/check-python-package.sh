#!/usr/bin/env bash
# Installs the Python package with pip, as a user would, into virtual environments of
# Debian's /usr/bin/python3 with no network: once from its source directory, once from a
# wheel built from it; each then imports it against the build's library.
#
#   check-python-package.sh [BUILD-DIR]   (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
library=$build/src/libQuorinNative.so.1
[[ -e "$library" ]] || { echo "check-python-package: no $library: build it first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Building writes into the source directory (build/, *.egg-info): build from a copy.
cp -r bindings/python "$work/source"
pip_quiet=(--quiet --disable-pip-version-check --no-index --no-build-isolation)

check() {
  local environment=$1
  QUORIN_NATIVE_LIBRARY=$library PYTHONDONTWRITEBYTECODE=1 "$environment/bin/python" -c '
import sys, quorin
assert quorin.__file__.startswith(sys.prefix), quorin.__file__
print(f"  quorin {quorin.__version__} from {quorin.__file__}")'
}

echo "-- pip install bindings/python"
/usr/bin/python3 -m venv --system-site-packages "$work/from-source"
"$work/from-source/bin/python" -m pip install "${pip_quiet[@]}" "$work/source"
check "$work/from-source"

echo "-- pip install a wheel built from it"
/usr/bin/python3 -m pip wheel "${pip_quiet[@]}" --no-deps -w "$work/wheels" "$work/source"
/usr/bin/python3 -m venv --system-site-packages "$work/from-wheel"
"$work/from-wheel/bin/python" -m pip install "${pip_quiet[@]}" "$work"/wheels/quorin-*.whl
check "$work/from-wheel"
/usr/bin/python3 -m zipfile -l "$work"/wheels/quorin-*.whl | grep 'quorin/py.typed' >/dev/null ||
  { echo "check-python-package: the wheel lacks py.typed" >&2; exit 1; }
