#!/usr/bin/env bash
# Runs a command against a redis-server of its own: on a unix socket in a temporary
# directory (no TCP port), with append-only persistence, stopped by the process id it got.
# The command finds the socket in QRN_REDIS_SOCKET; QRN_REQUIRE_REDIS makes tests that
# cannot reach it fail instead of skipping.
set -euo pipefail
dir=$(mktemp -d)
redis-server --port 0 --unixsocket "$dir/redis.sock" --unixsocketperm 700 --dir "$dir" \
  --appendonly yes --appendfsync always --save '' --daemonize no \
  --logfile "$dir/redis.log" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$dir"' EXIT

for _ in $(seq 100); do
  [[ -S "$dir/redis.sock" ]] && redis-cli -s "$dir/redis.sock" ping 2>/dev/null | grep PONG >/dev/null && break
  kill -0 "$server" 2>/dev/null || { cat "$dir/redis.log" >&2; exit 1; }
  sleep 0.1
done
QRN_REDIS_SOCKET=$dir/redis.sock QRN_REQUIRE_REDIS=1 "$@"
