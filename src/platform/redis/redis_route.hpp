#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/redis/redis_cluster.hpp"
#include "platform/redis/redis_connection.hpp"

namespace quorin::platform::redis {

// Where an account is served: a standalone server, or in a cluster the master of the
// account's slot. The first connection asks the node it reaches (the URL's, else each
// &node= in turn) for the cluster's nodes; a server without cluster support is standalone
// from then on. A cluster's master is kept until it is lost or the cluster says that the
// slot moved, and then looked for again through the nodes it named, and the URL's.
//
// Safe to use from any thread.
class RedisRoute {
 public:
  RedisRoute(RedisEndpoint seed, int slot);

  // A connection, opened with `limits`, to the server that serves the account; none with
  // `error` saying why of the last node tried.
  std::unique_ptr<RedisConnection> open(std::chrono::milliseconds timeout,
                                        const RespLimits& limits, RedisOpenError& error);
  // The cluster says the slot lives at `node` now.
  void moved(const ClusterNode& node);
  // The server that served the account failed a call: a cluster's is looked for again.
  void lost();
  // A node of the cluster, with the URL's credentials.
  RedisEndpoint endpointOf(const ClusterNode& node) const;

  struct View {
    bool cluster = false;
    std::string node;   // host:port of the slot's master; empty until found
    int replicas = -1;  // its replicas that are not failing; -1 while not known
  };
  View view() const;

 private:
  enum class Kind { unknown, standalone, cluster };
  struct Found {
    Kind kind = Kind::unknown;
    std::optional<SlotServers> servers;
    std::unique_ptr<RedisConnection> connection;  // to `at`, when the caller may use it
  };

  // The nodes to try, in order; `settled` when the first is the server found.
  struct Plan {
    std::vector<RedisEndpoint> nodes;
    bool settled = false;
  };
  Plan plan() const;
  std::optional<Found> locate(const RedisEndpoint& at, std::chrono::milliseconds timeout,
                              RedisOpenError& error);
  std::unique_ptr<RedisConnection> openServing(const RedisEndpoint& at, Found found,
                                               std::chrono::milliseconds timeout,
                                               const RespLimits& limits, RedisOpenError& error);

  const RedisEndpoint seed_;
  const int slot_;
  mutable std::mutex mutex_;  // guards the six below
  Kind kind_ = Kind::unknown;
  std::optional<RedisEndpoint> serving_;
  std::string servingName_;
  int replicas_ = -1;
  std::optional<ClusterNode> hint_;
  std::vector<ClusterNode> known_;
};

}  // namespace quorin::platform::redis
