#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/redis/redis_url.hpp"

namespace quorin::platform::redis {

// The slot of a Redis Cluster that holds `key`: CRC16 of its hash tag, or of the whole key
// when it has none, among 16384.
int keySlot(std::string_view key);

// A node as the cluster names it: the name it announces (else its address) and its port.
struct ClusterNode {
  std::string host;
  int port = 0;
  bool master = false;

  std::string address() const;
};

// What a node's CLUSTER NODES says of one slot: the master that serves it, the replicas of
// that master that are not failing, and every node named, for finding the cluster again.
struct SlotServers {
  std::optional<ClusterNode> master;  // none while no master holds the slot
  std::vector<ClusterNode> replicas;
  std::vector<ClusterNode> nodes;
};

// The text of CLUSTER NODES, read for `slot`; none with `error` saying what is wrong.
std::optional<SlotServers> parseClusterNodes(std::string_view text, int slot, std::string& error);

// A cluster's answer that the slot is served elsewhere: for good (MOVED), or for the next
// command only, which must follow ASKING (ASK).
struct Redirection {
  bool ask = false;
  ClusterNode to;
};
std::optional<Redirection> redirectionOf(std::string_view error);

// The endpoint of a node found through `seed`: the seed's credentials, database and TLS
// files, at the node's name and port, which the node's certificate must then name.
RedisEndpoint nodeEndpoint(const RedisEndpoint& seed, const ClusterNode& node);

}  // namespace quorin::platform::redis
