#!/usr/bin/env bash
# Fails when a source file includes a header from a layer it must not see. Each layer may
# include its own headers and those of the layers listed for it; tests, tools and benches
# sit above everything and are not checked.
set -euo pipefail
src=${1:-$(dirname "$0")/../../src}

# The folder a path below src/ belongs to, as a layer name.
layer_of() {
  case $1 in
    formats/*) echo formats ;;
    platform/common/*) echo common ;;
    platform/posix/*) echo posix ;;
    platform/redis/*) echo redis ;;
    platform/linux/*) echo linux ;;
    platform/*) echo interfaces ;;
    client/* | cloud/* | keychain/* | migration/* | version.cpp) echo core ;;
    capi/*) echo capi ;;
    quorin/*) echo public ;;
    *) echo unknown ;;
  esac
}

declare -A allowed=(
  [formats]="formats"
  [interfaces]="interfaces formats public"
  [core]="core interfaces formats public"
  [common]="common interfaces formats"
  [posix]="posix common interfaces formats"
  [redis]="redis common interfaces formats"
  [linux]="linux posix redis common interfaces formats"
  [capi]="capi linux core interfaces formats public"
)

failures=0
while IFS= read -r file; do
  relative=${file#"$src"/}
  from=$(layer_of "$relative")
  while IFS= read -r header; do
    to=$(layer_of "$header")
    if [[ " ${allowed[$from]:-} " != *" $to "* ]]; then
      echo "$relative ($from) must not include \"$header\" ($to)" >&2
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.cpp' -o -name '*.hpp' -o -name '*.inc' | sort)

if ((failures > 0)); then
  echo "$failures include(s) cross the layering" >&2
  exit 1
fi
echo "every include follows the layering"
