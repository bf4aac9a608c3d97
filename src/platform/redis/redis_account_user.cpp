#include "platform/redis/redis_account_user.hpp"

#include <hiredis/hiredis.h>
#include <sodium.h>

#include <array>
#include <cctype>
#include <chrono>

#include "formats/excerpt.hpp"
#include "platform/redis/redis_cluster.hpp"
#include "platform/redis/redis_connection.hpp"
#include "platform/redis/redis_functions.hpp"
#include "platform/redis/redis_limits.hpp"

namespace quorin::platform::redis {
namespace {

using namespace std::chrono_literals;

constexpr auto kTimeout = 5000ms;
constexpr std::size_t kPasswordBytes = 32;

// The commands a device sends, then those its functions call: the server checks both
// against the user's rules. AUTH needs no rule. No rule lets the user run code of its own
// (EVAL, EVALSHA, SCRIPT, FUNCTION). On a cluster a device asks where the account lives,
// follows a slot on its way (ASKING) and waits for a replica (WAIT).
constexpr std::array kDeviceCommands{
    "ping",    "time",    "fcall",   "fcall_ro",      "hget",    "subscribe",
    "cluster|nodes",      "asking",  "wait",          "ssubscribe",
    "hexists", "hstrlen", "hset",    "hdel",          "hincrby", "zadd",
    "zrangebyscore",      "publish", "spublish"};

std::optional<std::string> generatedPassword(std::string& error) {
  if (sodium_init() < 0) {
    error = "no source of random bytes";
    return std::nullopt;
  }
  std::array<unsigned char, kPasswordBytes> bytes;
  randombytes_buf(bytes.data(), bytes.size());
  std::string hex(bytes.size() * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  hex.pop_back();
  sodium_memzero(bytes.data(), bytes.size());
  return hex;
}

// Escapes what would end a part of the URL; the parser decodes it again.
std::string escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool plain = std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The URL in full, its password included: what the device is given.
std::string deviceUrl(const RedisEndpoint& device) {
  std::string credentials = escaped(device.user) + ":" + escaped(*device.password) + "@";
  if (!device.socketPath.empty()) {
    auto url = "unix://" + credentials + escaped(device.socketPath) + "?account=" + device.account;
    if (device.database) url += "&db=" + std::to_string(device.database);
    for (const auto& [host, port] : device.seeds)
      url += "&node=" + escaped(ClusterNode{host, port, false}.address());
    return url;
  }
  bool v6 = device.host.find(':') != std::string::npos;
  auto url = std::string(device.tls ? "rediss://" : "redis://") + credentials +
             (v6 ? "[" + device.host + "]" : device.host) + ":" + std::to_string(device.port) +
             "/" + std::to_string(device.database) + "?account=" + device.account;
  if (!device.caFile.empty()) url += "&ca=" + escaped(device.caFile);
  for (const auto& [host, port] : device.seeds)
    url += "&node=" + escaped(ClusterNode{host, port, false}.address());
  return url;
}

std::unique_ptr<RedisConnection> administer(const RedisEndpoint& server, std::string& error) {
  RedisOpenError openError;
  auto connection = RedisConnection::open(server, kTimeout, kCommandLimits, openError);
  if (!connection) error = server.describe() + ": " + openError.message;
  return connection;
}

// The reply, when of the type due, or none with `error` saying why the server would not do it.
RedisReply ask(RedisConnection& connection, const std::vector<std::string>& arguments, int type,
               std::string& error) {
  std::vector<std::string_view> views(arguments.begin(), arguments.end());
  auto reply = connection.command(views);
  auto asked = arguments[0] + " " + arguments[1];
  if (!reply) {
    error = connection.error();
  } else if (isErrorReply(*reply)) {
    error = "the server refused " + asked + ": " + formats::excerpt(replyText(*reply));
    reply.reset();
  } else if (reply->type != type) {
    error = "the server answered " + asked + " with " + describeReply(*reply);
    reply.reset();
  }
  return reply;
}

// A node to administer: the server alone, or one of its cluster's.
struct Node {
  ClusterNode at;
  std::unique_ptr<RedisConnection> connection;
};

struct Nodes {
  bool cluster = false;
  std::vector<Node> reached;
};

// Every node the server's URL leads to: ACL users are each node's own, and a cluster's
// functions are each master's. A node that cannot be reached is named in `unreached`.
Nodes nodesOf(const RedisEndpoint& server, std::unique_ptr<RedisConnection> first,
              std::vector<std::string>& unreached) {
  auto reply = first->command({"CLUSTER", "NODES"});
  std::string why;
  auto cluster = reply && reply->type == REDIS_REPLY_STRING
                     ? parseClusterNodes(replyText(*reply), 0, why)
                     : std::nullopt;
  Nodes nodes;
  if (!cluster) {
    nodes.reached.push_back({{server.host, server.port, true}, std::move(first)});
    return nodes;
  }
  nodes.cluster = true;
  for (const auto& node : cluster->nodes) {
    std::string error;
    auto connection = administer(nodeEndpoint(server, node), error);
    if (connection) {
      nodes.reached.push_back({node, std::move(connection)});
    } else {
      unreached.push_back(error);
    }
  }
  return nodes;
}

// The account's user on one node, and the functions on a master; false with `error`.
bool provisionNode(Node& node, const RedisEndpoint& device, std::string& error,
                   std::string& warning) {
  if (node.at.master && !installAccountFunctions(*node.connection, error)) return false;
  std::vector<std::string> setUser{"ACL", "SETUSER", device.user};
  for (auto& rule : accountUserRules(device)) setUser.push_back(std::move(rule));
  setUser.push_back(">" + *device.password);
  if (!ask(*node.connection, setUser, REDIS_REPLY_STATUS, error)) return false;
  // Devices still on the old password stop at once, not at their next reconnect. The new
  // password is in force whatever this answers, so it is never lost over it.
  std::string unkilled;
  if (!ask(*node.connection, {"CLIENT", "KILL", "USER", device.user}, REDIS_REPLY_INTEGER,
           unkilled))
    warning =
        "connections made with the old password may stay open until they reconnect: " + unkilled;
  return true;
}

}  // namespace

std::string accountKeyPrefix(std::string_view account) {
  return "quorin:{" + std::string(account) + "}:";
}

std::string accountUserName(std::string_view account) {
  return "quorin-" + std::string(account);
}

std::vector<std::string> accountUserRules(const RedisEndpoint& device) {
  auto prefix = accountKeyPrefix(device.account);
  std::vector<std::string> rules{"reset", "on", "~" + prefix + "*", "&" + prefix + "*"};
  for (const char* command : kDeviceCommands) rules.push_back(std::string("+") + command);
  if (device.database != 0) rules.emplace_back("+select");
  return rules;
}

std::optional<std::string> provisionAccount(const RedisEndpoint& server, std::string_view account,
                                            std::string& error,
                                            std::vector<std::string>& unreached) {
  auto connection = administer(server, error);
  auto password = generatedPassword(error);
  if (!connection || !password) return std::nullopt;
  auto nodes = nodesOf(server, std::move(connection), unreached);
  RedisEndpoint device = server;
  device.account = account;
  device.user = accountUserName(account);
  device.password = *password;
  device.certificateFile.clear();
  device.keyFile.clear();
  device.seeds.clear();
  for (const auto& node : nodes.reached) {
    bool named = node.at.host == server.host && node.at.port == server.port;
    if (nodes.cluster && !named) device.seeds.emplace_back(node.at.host, node.at.port);
  }
  for (auto& node : nodes.reached) {
    std::string why;
    if (provisionNode(node, device, why, error)) continue;
    if (!nodes.cluster) return (error = why, std::nullopt);
    unreached.push_back(node.at.address() + ": " + why);
  }
  return deviceUrl(device);
}

Revocation revokeAccount(const RedisEndpoint& server, std::string_view account, std::string& error,
                         std::vector<std::string>& unreached) {
  auto connection = administer(server, error);
  if (!connection) return Revocation::failed;
  auto nodes = nodesOf(server, std::move(connection), unreached);
  bool revoked = false;
  for (auto& node : nodes.reached) {
    std::string why;
    auto reply =
        ask(*node.connection, {"ACL", "DELUSER", accountUserName(account)}, REDIS_REPLY_INTEGER, why);
    if (!reply && !nodes.cluster) return (error = why, Revocation::failed);
    if (!reply) unreached.push_back(node.at.address() + ": " + why);
    revoked = revoked || (reply && reply->integer > 0);
  }
  if (!unreached.empty()) return (error = "some nodes of the cluster still know the user", Revocation::failed);
  return revoked ? Revocation::revoked : Revocation::noSuchUser;
}

}  // namespace quorin::platform::redis
