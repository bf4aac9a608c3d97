#!/usr/bin/env bash
# Builds and runs the README's examples with the README's own commands, so that what a reader
# copies works. In the README, `<!-- example: FILE -->` right before a fenced block makes the
# block the file FILE, and `<!-- example-run -->` makes it commands to run; every run block runs
# in a shell of its own, in README order, in a directory holding all the files.
#
#   check-readme.sh BUILD-DIR   against a staged install of the build, standing in for the
#                               README's /opt/quorin
#   check-readme.sh --installed against what is installed, with the commands as written
set -euo pipefail
target=${1:?usage: check-readme.sh BUILD-DIR | --installed}
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/examples" "$work/runs"

awk -v files="$work/examples" -v runs="$work/runs" '
  capture != "" { if (/^```/) { close(capture); capture = "" } else print > capture; next }
  pending != "" {
    if (!/^```/) { print "README.md:" NR ": an example marker must stand right before a fenced block" > "/dev/stderr"; exit 1 }
    capture = pending; pending = ""; next
  }
  /^<!-- example: [^ ]+ -->$/ { pending = files "/" $3; next }
  /^<!-- example-run -->$/ { pending = sprintf("%s/%02d.sh", runs, ++run); next }
' README.md
compgen -G "$work/runs/*.sh" >/dev/null || { echo "README.md: no example-run block" >&2; exit 1; }
# An example file that no command and no other file names would go unchecked (CMake finds a
# CMakeLists.txt by itself).
for file in "$work"/examples/*; do
  name=$(basename "$file")
  [[ "$name" == CMakeLists.txt ]] && continue
  others=$(find "$work/runs" "$work/examples" -type f ! -path "$file")
  # shellcheck disable=SC2086  # one path a word
  grep -qF "$name" $others || { echo "README.md: nothing builds the example $name" >&2; exit 1; }
done

if [[ "$target" != --installed ]]; then
  stage=$work/stage
  cmake --install "$target" --prefix "$stage" >/dev/null
  sed -i "s|/opt/quorin|$stage|g" "$work"/runs/*.sh
fi

# The Node example installs bindings/node from "~/quorin-native": a copy of the source's,
# without a build of it, stands in for that checkout.
mkdir -p "$work/source/bindings"
tar -c --exclude=./build --exclude=./node_modules --exclude=./prebuilds -C bindings/node . |
  (mkdir "$work/source/bindings/node" && tar -x -C "$work/source/bindings/node")
sed -i "s|~/quorin-native|$work/source|g" "$work"/runs/*.sh

# The examples use devices of their own under /tmp: a pasted example must not touch the
# reader's default device or cloud account, which would be made here.
export XDG_DATA_HOME=$work/data
for run in "$work"/runs/*.sh; do
  echo "-- README commands:"
  sed 's/^/   $ /' "$run"
  (cd "$work/examples" && timeout 300 bash -euo pipefail "$run")
done
if [[ -e "$XDG_DATA_HOME" ]]; then
  echo "README.md: an example used the default device or cloud account:" >&2
  find "$XDG_DATA_HOME" >&2
  exit 1
fi
