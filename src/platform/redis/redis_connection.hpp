#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/redis/redis_url.hpp"

struct redisContext;
struct redisReply;

namespace quorin::platform::redis {

struct ReplyDeleter {
  void operator()(redisReply* reply) const;
};
using RedisReply = std::unique_ptr<redisReply, ReplyDeleter>;

// Why a connection could not be opened. `refused` means the server answered but will not
// serve this URL (a wrong password, a database it lacks): trying again will not help.
struct RedisOpenError {
  std::string message;
  bool refused = false;
};

// One connection to the server, authenticated and on the URL's database. Every call waits
// at most the timeout it was opened with; a failed call leaves the connection unusable.
class RedisConnection {
 public:
  static std::unique_ptr<RedisConnection> open(const RedisEndpoint& endpoint,
                                               std::chrono::milliseconds timeout,
                                               RedisOpenError& error);
  ~RedisConnection();
  RedisConnection(const RedisConnection&) = delete;
  RedisConnection& operator=(const RedisConnection&) = delete;

  // The reply, an error reply included; none when the connection failed.
  RedisReply command(const std::vector<std::string_view>& arguments);
  // For a subscription: reads what the socket holds, then hands out whole replies one at
  // a time. False when the connection failed.
  bool readAvailable();
  bool nextReply(RedisReply& reply);

  int fd() const;
  std::string error() const;

 private:
  explicit RedisConnection(redisContext* context) : context_(context) {}

  redisContext* context_;
};

// The reply's text for a string, status or error reply; empty otherwise.
std::string_view replyText(const redisReply& reply);
bool isErrorReply(const redisReply& reply);

}  // namespace quorin::platform::redis
