#include "platform/redis/redis_route.hpp"

#include <hiredis/hiredis.h>

#include "formats/excerpt.hpp"
#include "platform/redis/redis_limits.hpp"

namespace quorin::platform::redis {
namespace {

std::string placeOf(const RedisEndpoint& endpoint) {
  return endpoint.socketPath.empty() ? ClusterNode{endpoint.host, endpoint.port}.address()
                                     : endpoint.socketPath;
}

}  // namespace

RedisRoute::RedisRoute(RedisEndpoint seed, int slot) : seed_(std::move(seed)), slot_(slot) {}

RedisEndpoint RedisRoute::endpointOf(const ClusterNode& node) const {
  return nodeEndpoint(seed_, node);
}

// The server found, else every node that may say where it is: the one a redirection
// named, the URL's, then those the cluster named.
RedisRoute::Plan RedisRoute::plan() const {
  std::lock_guard lock(mutex_);
  if (kind_ == Kind::standalone) return {{serving_.value_or(seed_)}, true};
  if (serving_) return {{*serving_}, true};
  Plan plan;
  auto add = [&](RedisEndpoint endpoint) {
    for (const auto& had : plan.nodes)
      if (placeOf(had) == placeOf(endpoint)) return;
    plan.nodes.push_back(std::move(endpoint));
  };
  if (hint_) add(endpointOf(*hint_));
  add(seed_);
  for (const auto& [host, port] : seed_.seeds) add(endpointOf({host, port, false}));
  for (const auto& node : known_) add(endpointOf(node));
  return plan;
}

std::unique_ptr<RedisConnection> RedisRoute::open(std::chrono::milliseconds timeout,
                                                  const RespLimits& limits,
                                                  RedisOpenError& error) {
  auto ahead = plan();
  if (ahead.settled) {
    auto connection = RedisConnection::open(ahead.nodes.front(), timeout, limits, error);
    if (!connection) lost();
    return connection;
  }
  for (const auto& at : ahead.nodes) {
    auto found = locate(at, timeout, error);
    if (!found) {
      if (error.refused) return nullptr;
      continue;
    }
    auto connection = openServing(at, std::move(*found), timeout, limits, error);
    if (connection || error.refused) return connection;
  }
  return nullptr;
}

// A server without cluster support refuses the question; so may a cluster's node to a
// user without the right to ask, and a redirection has then said that it is a cluster.
std::optional<RedisRoute::Found> RedisRoute::locate(const RedisEndpoint& at,
                                                    std::chrono::milliseconds timeout,
                                                    RedisOpenError& error) {
  auto connection = RedisConnection::open(at, timeout, kCommandLimits, error);
  if (!connection) return std::nullopt;
  auto reply = connection->command({"CLUSTER", "NODES"});
  if (!reply) {
    error = {connection->error(), connection->refused()};
    return std::nullopt;
  }
  Found found;
  if (isErrorReply(*reply)) {
    if (isPassingError(replyText(*reply))) {
      error = {
          "the server cannot say where the account lives: " + formats::excerpt(replyText(*reply)),
          false};
      return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    found.kind = hint_ ? Kind::cluster : Kind::standalone;
  } else if (reply->type == REDIS_REPLY_STRING) {
    std::string why;
    found.servers = parseClusterNodes(replyText(*reply), slot_, why);
    if (!found.servers) {
      error = {"the cluster's list of nodes cannot be read: " + why, false};
      return std::nullopt;
    }
    if (!found.servers->master) {
      error = {"no master of the cluster serves the account's slot " + std::to_string(slot_),
               false};
      return std::nullopt;
    }
    found.kind = Kind::cluster;
  } else {
    error = {"the server answered CLUSTER NODES with " + describeReply(*reply), false};
    return std::nullopt;
  }
  found.connection = std::move(connection);
  return found;
}

// The connection that asked is used when it reached the server found and may take what
// the caller's replies hold.
std::unique_ptr<RedisConnection> RedisRoute::openServing(const RedisEndpoint& at, Found found,
                                                         std::chrono::milliseconds timeout,
                                                         const RespLimits& limits,
                                                         RedisOpenError& error) {
  auto serving = found.servers ? endpointOf(*found.servers->master) : at;
  {
    std::lock_guard lock(mutex_);
    kind_ = found.kind;
    serving_ = serving;
    servingName_ = placeOf(serving);
    replicas_ = found.servers ? static_cast<int>(found.servers->replicas.size()) : -1;
    if (found.servers) known_ = found.servers->nodes;
    hint_.reset();
  }
  if (placeOf(serving) == placeOf(at) && limits == kCommandLimits)
    return std::move(found.connection);
  found.connection.reset();
  auto connection = RedisConnection::open(serving, timeout, limits, error);
  if (!connection) lost();
  return connection;
}

void RedisRoute::moved(const ClusterNode& node) {
  std::lock_guard lock(mutex_);
  kind_ = Kind::cluster;
  hint_ = node;
  serving_.reset();
}

void RedisRoute::lost() {
  std::lock_guard lock(mutex_);
  if (kind_ == Kind::cluster) serving_.reset();
}

RedisRoute::View RedisRoute::view() const {
  std::lock_guard lock(mutex_);
  return {kind_ == Kind::cluster, serving_ ? servingName_ : std::string(), replicas_};
}

}  // namespace quorin::platform::redis
