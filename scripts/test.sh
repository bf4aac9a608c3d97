#!/usr/bin/env bash
# Builds every preset and runs all tests, against one redis-server and one Redis Cluster
# started for the run: the default build (and the Python and Node packages' tests, the Python
# package's pip installs, the example hosts and the README's examples against its staged
# install), ASan+UBSan, TSan, then each fuzz target for a bounded time. Fails on the first
# failing step.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test

fuzz_seconds=${QRN_FUZZ_SECONDS:-15}
# The suites are independent processes on temporary containers, so they run side by side.
test_jobs=${QRN_TEST_JOBS:-2}

for preset in default asan tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  scripts/with-redis.sh scripts/with-redis-cluster.sh \
    ctest --preset "$preset" --output-on-failure -j "$test_jobs"
  # GLib is not built for ThreadSanitizer, so the Secret Service runs under the other two.
  if [[ "$preset" != tsan ]]; then
    echo "-- against a Secret Service"
    QRN_REQUIRE_SECRET_SERVICE=1 scripts/with-secret-service.sh \
      ctest --preset "$preset" -L secret-service --output-on-failure
  fi
  if [[ "$preset" == default ]]; then
    echo "== the Python package, with Debian's /usr/bin/python3, against the build's library"
    QUORIN_NATIVE_LIBRARY=$PWD/build/default/src/libQuorinNative.so.1 PYTHONDONTWRITEBYTECODE=1 \
      /usr/bin/python3 -m pytest -q -p no:cacheprovider bindings/python/tests
    scripts/check-python-package.sh build/default
    echo "== staged install and example hosts"
    scripts/check-install.sh build/default
    echo "== the Node package, against a staged install"
    scripts/check-node.sh build/default
    echo "== the README's examples, against a staged install"
    scripts/check-readme.sh build/default
  fi
done

echo "== fuzz (${fuzz_seconds}s a target)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in build/fuzz/fuzz/fuzz_*; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/" 2>/dev/null || true
  echo "-- $name"
  "$target" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
  rm -rf "$corpus"
done
echo "all tests passed"
