#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/redis/redis_reply.hpp"
#include "platform/redis/redis_stream.hpp"
#include "platform/redis/redis_url.hpp"
#include "platform/redis/resp_screen.hpp"

struct redisReader;

namespace quorin::platform::redis {

struct ReaderDeleter {
  void operator()(redisReader* reader) const;
};

// Why a connection could not be opened. `refused` means the server answered but will not
// serve this URL (a wrong password, a database it lacks, a certificate that fails its
// check, no TLS where the URL asks for it): trying again will not help.
struct RedisOpenError {
  std::string message;
  bool refused = false;
};

// One connection to the server, authenticated and on the URL's database. Commands are
// written in the server's protocol and its replies parsed by hiredis, once a screen has
// checked them against the connection's limits; the bytes go over a socket of this class's
// own, in TLS for rediss://. Every command waits at most the timeout it was opened with,
// however the server sends its reply; a failed call leaves the connection unusable.
class RedisConnection {
 public:
  static std::unique_ptr<RedisConnection> open(const RedisEndpoint& endpoint,
                                               std::chrono::milliseconds timeout,
                                               const RespLimits& limits, RedisOpenError& error);
  ~RedisConnection();
  RedisConnection(const RedisConnection&) = delete;
  RedisConnection& operator=(const RedisConnection&) = delete;

  // The reply, an error reply included; none when the connection failed.
  RedisReply command(const std::vector<std::string_view>& arguments);
  // For a subscription: reads what the socket holds, then hands out whole replies one at
  // a time. False when the connection failed, or when a reply that has begun to arrive is
  // not whole by the timeout.
  bool readAvailable();
  bool nextReply(RedisReply& reply);
  // When the reply that has begun to arrive must have ended; none between replies.
  std::optional<Deadline> replyDue() const;

  int fd() const { return stream_->fd(); }
  std::string error() const { return error_; }
  // Whether the failure lasts, as a refused certificate does.
  bool refused() const { return refused_; }
  // Ends the connection's use and says why, for a caller that got a reply it cannot use;
  // false, for the caller to answer with.
  bool failed(std::string why, bool refused = false);

 private:
  RedisConnection(std::unique_ptr<ByteStream> stream, std::chrono::milliseconds timeout,
                  const RespLimits& limits);
  RedisReply turnedAway();
  bool receive(Deadline deadline);
  bool take(std::string_view bytes);

  std::unique_ptr<ByteStream> stream_;
  std::unique_ptr<redisReader, ReaderDeleter> reader_;
  RespScreen screen_;
  std::chrono::milliseconds timeout_;
  Deadline replyStarted_{};
  std::string error_ = "no error";
  bool broken_ = false;
  bool refused_ = false;
};

}  // namespace quorin::platform::redis
