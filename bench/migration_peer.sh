#!/bin/sh
# Generates a legacy device of each analytics shape and runs, on the same files, `quorin
# migrate`, the Python peer migration and a plain simdjson load and parse; prints each one's
# wall time and peak memory, and the ratios. Run from the source tree after building the
# default preset: bench/migration_peer.sh [shape...]
set -eu
build=${BUILD:-build/default}
here=$(dirname "$0")
shapes=${*:-keyed_objects arrays huge_member small_files}
work=$(mktemp -d /tmp/migration-peer.XXXXXX)
trap 'rm -rf "$work"' EXIT

# "seconds kilobytes" of one run of the command; the seconds from the clock in nanoseconds,
# since time(1) counts hundredths, which the small device takes a few of.
measure() {
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>&1 || echo "failed: $*" >&2
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$work/time")" | awk '{ printf "%.4f %s\n", $1 / 1e6, $2 }'
}

printf '%-14s %9s %8s %8s %8s %8s %8s %10s %10s\n' shape json_MB quorin_s quorin_MB \
  simd_s simd_MB python_s vs_simdjson vs_python
for shape in $shapes; do
  device="$work/$shape"
  "$build/bench/migration_bench" --write-device "$shape" "$device"
  files=$(find "$device/Library/campaigns" "$device/Library/installedApps" -type f)
  bytes=$(cat $files | wc -c)
  set -- $(measure "$build/tools/quorin/quorin" --container "$device" \
    --cloud-account "$work/cloud" --key-store key-file migrate)
  quorin_s=$1 quorin_kb=$2
  set -- $(measure "$build/bench/simdjson_baseline" $files)
  simd_s=$1 simd_kb=$2
  set -- $(measure python3 "$here/migration_peer.py" "$device")
  python_s=$1
  awk -v s="$shape" -v b="$bytes" -v q="$quorin_s" -v qk="$quorin_kb" -v d="$simd_s" \
    -v dk="$simd_kb" -v p="$python_s" 'BEGIN {
      printf "%-14s %9.1f %8.3f %8.0f %8.3f %8.0f %8.3f %10.2f %10.1f\n", s, b / 1048576, q,
        qk / 1024, d, dk / 1024, p, (q > 0 ? d / q : 0), (q > 0 ? p / q : 0) }'
  rm -rf "$device"
done
