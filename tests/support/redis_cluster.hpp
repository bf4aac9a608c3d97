#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/redis/redis_connection.hpp"

namespace quorin::testing {

// A Redis Cluster of the test's own, as scripts/with-redis-cluster.sh starts one: three
// masters with a replica each, on loopback ports found free by trying, with a one-second
// node timeout, the accounts' functions loaded on every master. Every node is stopped by
// its process id.
class RedisCluster {
 public:
  explicit RedisCluster(std::filesystem::path directory);
  ~RedisCluster();
  RedisCluster(const RedisCluster&) = delete;
  RedisCluster& operator=(const RedisCluster&) = delete;

  // False when the cluster would not form.
  bool start();
  // host:port of every node.
  const std::vector<std::string>& nodes() const { return nodes_; }

 private:
  bool startNode();

  std::filesystem::path directory_;
  std::vector<pid_t> pids_;
  std::vector<std::string> nodes_;
};

// The nodes of the cluster the test run shares (QRN_REDIS_CLUSTER), else of one started for
// this process, with the accounts' functions loaded on its masters; none without one.
std::optional<std::vector<std::string>> sharedRedisCluster();

// A connection to a node (host:port) as its default user; none when it would not open.
std::unique_ptr<platform::redis::RedisConnection> administerNode(const std::string& node);

// The reply of a node to a command, as text (an integer as its digits); none on failure or
// an error reply.
std::optional<std::string> askNode(const std::string& node, std::vector<std::string> command);

// The master that serves `slot`, as `nodes` say, and the replicas they name for it.
struct SlotHolders {
  std::string master;
  std::vector<std::string> replicas;
};
std::optional<SlotHolders> holdersOf(const std::vector<std::string>& nodes, int slot);

// The process id of the node, which runs on this machine.
pid_t pidOf(const std::string& node);

// Loads the accounts' functions on every master; false when one would not take them.
bool loadFunctionsOnMasters(const std::vector<std::string>& nodes);

}  // namespace quorin::testing
