#!/usr/bin/env bash
# Fails when a source file includes a header from a layer it must not see, or opens a
# namespace other than its folder's. Each layer may include its own headers and those of the
# layers listed for it; tests, tools and benches sit above everything and are not checked.
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
    client/* | cloud/* | keychain/* | migration/*) echo core ;;
    capi/*) echo capi ;;
    quorin/*) echo public ;;
    *) echo unknown ;;
  esac
}

# The namespace a path below src/ opens: its folder's, as the code names what it holds.
namespace_of() {
  case $1 in
    formats/*) echo quorin::formats ;;
    platform/common/*) echo quorin::platform::common ;;
    platform/posix/*) echo quorin::platform::posix ;;
    platform/redis/*) echo quorin::platform::redis ;;
    platform/linux/*) echo quorin::platform::linux ;;
    platform/*) echo quorin::platform ;;
    cloud/*) echo quorin::cloud ;;
    keychain/*) echo quorin::keychain ;;
    migration/*) echo quorin::migration ;;
    client/*) echo quorin ;;
    capi/*) echo quorin::capi ;;
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
  # Nested and anonymous namespaces open inside the folder's and are not checked.
  expected=$(namespace_of "$relative")
  while IFS= read -r opened; do
    if [[ "$opened" != "$expected" ]]; then
      echo "$relative opens namespace $opened, not its folder's ($expected)" >&2
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*namespace[[:space:]]\{1,\}\(quorin[[:alnum:]_:]*\).*/\1/p' "$file")
done < <(find "$src" -name '*.cpp' -o -name '*.hpp' -o -name '*.inc' | sort)

if ((failures > 0)); then
  echo "$failures include(s) or namespace(s) cross the layering" >&2
  exit 1
fi
echo "every include follows the layering, and every namespace its folder"
