#!/usr/bin/env bash
# Checks the shared library's SONAME and dynamic symbols: every function of the C header is
# exported, and nothing is exported beyond the C interface, the facade and the version symbols.
set -euo pipefail
library=$1
header=$2
status=0

soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [[ "$soname" != libQuorinNative.so.1 ]]; then
  echo "SONAME is '$soname', not libQuorinNative.so.1"
  status=1
fi

exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort -u)
while read -r symbol; do
  case "$symbol" in
    qrn_* | QuorinNativeVersionNumber | QuorinNativeVersionString) ;;
    *)
      if [[ "$(c++filt "$symbol")" != QRNQuorinClient::* ]]; then
        echo "exported but not public: $symbol ($(c++filt "$symbol"))"
        status=1
      fi
      ;;
  esac
done <<<"$exported"

for function in $(grep -oE '\bqrn_[a-z_]+\(' "$header" | tr -d '(' | sort -u); do
  if ! grep -qx "$function" <<<"$exported"; then
    echo "declared but not exported: $function"
    status=1
  fi
done
exit $status
