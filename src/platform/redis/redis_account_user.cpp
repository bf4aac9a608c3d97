#include "platform/redis/redis_account_user.hpp"

#include <hiredis/hiredis.h>
#include <sodium.h>

#include <array>
#include <cctype>
#include <chrono>

#include "formats/excerpt.hpp"
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
// (EVAL, EVALSHA, SCRIPT, FUNCTION).
constexpr std::array kDeviceCommands{"ping",      "time",    "fcall",         "fcall_ro", "hget",
                                     "subscribe", "hexists", "hstrlen",       "hset",     "hdel",
                                     "hincrby",   "zadd",    "zrangebyscore", "publish"};

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
    return device.database ? url + "&db=" + std::to_string(device.database) : url;
  }
  bool v6 = device.host.find(':') != std::string::npos;
  auto url = std::string(device.tls ? "rediss://" : "redis://") + credentials +
             (v6 ? "[" + device.host + "]" : device.host) + ":" + std::to_string(device.port) +
             "/" + std::to_string(device.database) + "?account=" + device.account;
  return device.caFile.empty() ? url : url + "&ca=" + escaped(device.caFile);
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
    error = "the server refused " + asked + ": " + excerpt(replyText(*reply));
    reply.reset();
  } else if (reply->type != type) {
    error = "the server answered " + asked + " with " + describeReply(*reply);
    reply.reset();
  }
  return reply;
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
                                            std::string& error) {
  auto connection = administer(server, error);
  auto password = generatedPassword(error);
  if (!connection || !password || !installAccountFunctions(*connection, error)) return std::nullopt;
  RedisEndpoint device = server;
  device.account = account;
  device.user = accountUserName(account);
  device.password = *password;
  device.certificateFile.clear();
  device.keyFile.clear();
  std::vector<std::string> setUser{"ACL", "SETUSER", device.user};
  for (auto& rule : accountUserRules(device)) setUser.push_back(std::move(rule));
  setUser.push_back(">" + *password);
  if (!ask(*connection, setUser, REDIS_REPLY_STATUS, error)) return std::nullopt;
  // Devices still on the old password stop at once, not at their next reconnect. The new
  // password is in force whatever this answers, so it is never lost over it.
  std::string unkilled;
  if (!ask(*connection, {"CLIENT", "KILL", "USER", device.user}, REDIS_REPLY_INTEGER, unkilled))
    error =
        "connections made with the old password may stay open until they reconnect: " + unkilled;
  return deviceUrl(device);
}

Revocation revokeAccount(const RedisEndpoint& server, std::string_view account,
                         std::string& error) {
  auto connection = administer(server, error);
  if (!connection) return Revocation::failed;
  auto reply =
      ask(*connection, {"ACL", "DELUSER", accountUserName(account)}, REDIS_REPLY_INTEGER, error);
  if (!reply) return Revocation::failed;
  return reply->integer > 0 ? Revocation::revoked : Revocation::noSuchUser;
}

}  // namespace quorin::platform::redis
