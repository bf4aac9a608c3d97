#!/usr/bin/env bash
# Builds the Node package (bindings/node) against a staged install of a build, the way
# `npm install` does, and runs its node --test suites, the packed tarball's install included.
# The stage stays in the build directory, so that the addon built here keeps loading.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
stage=$(realpath "$build")/node-stage
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
export PKG_CONFIG_PATH=$stage/lib/pkgconfig
cd bindings/node
npm ci --no-audit --no-fund --loglevel=error
node --test --test-concurrency=2 test/
