#!/usr/bin/env bash
# Runs a command against a Redis Cluster of its own: three masters, each with a replica, on
# loopback ports found free by trying, with a short node timeout so that a failover takes
# seconds. Every node is stopped by the process id it got. The command finds the nodes in
# QRN_REDIS_CLUSTER (host:port,...); QRN_REQUIRE_CLUSTER makes tests that cannot reach it
# fail instead of skipping.
set -euo pipefail
dir=$(mktemp -d)
pids=()
ports=()
stop() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap stop EXIT

answers() { redis-cli -h 127.0.0.1 -p "$1" "${@:2}" 2>/dev/null; }

# A node on a port (and the port 10000 above it, for the cluster bus) that nothing holds;
# a port taken since it was tried makes the server exit, and another is tried. Until it
# exits, the port's owner answers for it: only its process id says the node is ours.
start_node() {
  for _ in $(seq 50); do
    local port=$((20000 + RANDOM % 30000))
    mkdir -p "$dir/$port"
    redis-server --bind 127.0.0.1 --port "$port" --dir "$dir/$port" --daemonize no \
      --cluster-enabled yes --cluster-config-file nodes.conf --cluster-node-timeout 1000 \
      --cluster-replica-validity-factor 0 --cluster-require-full-coverage no \
      --appendonly no --save '' --logfile "$dir/$port/log" &
    local pid=$!
    for _ in $(seq 50); do
      answers "$port" info server | grep "process_id:$pid[^0-9]" >/dev/null && { pids+=("$pid"); ports+=("$port"); return; }
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "with-redis-cluster: no free port for a node" >&2
  exit 1
}

for _ in 1 2 3 4 5 6; do start_node; done
nodes=()
for port in "${ports[@]}"; do nodes+=("127.0.0.1:$port"); done
redis-cli --cluster create "${nodes[@]}" --cluster-replicas 1 --cluster-yes >"$dir/create.log" ||
  { cat "$dir/create.log" >&2; exit 1; }

# Ready once every node sees the cluster whole and every replica has its master's data.
for _ in $(seq 200); do
  ready=1
  for port in "${ports[@]}"; do
    answers "$port" cluster info | grep 'cluster_state:ok' >/dev/null || ready=0
    answers "$port" info replication | grep -e 'role:master' -e 'master_link_status:up' >/dev/null ||
      ready=0
  done
  [[ $ready == 1 ]] && break
  sleep 0.1
done
[[ $ready == 1 ]] || { echo "with-redis-cluster: the cluster did not form" >&2; exit 1; }

QRN_REDIS_CLUSTER=$(IFS=,; echo "${nodes[*]}") QRN_REQUIRE_CLUSTER=1 "$@"
