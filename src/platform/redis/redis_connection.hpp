#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/redis/redis_stream.hpp"
#include "platform/redis/redis_url.hpp"

struct redisReader;
struct redisReply;

namespace quorin::platform::redis {

struct ReplyDeleter {
  void operator()(redisReply* reply) const;
};
using RedisReply = std::unique_ptr<redisReply, ReplyDeleter>;

struct ReaderDeleter {
  void operator()(redisReader* reader) const;
};

// Why a connection could not be opened. `refused` means the server answered but will not
// serve this URL (a wrong password, a database it lacks, a certificate that fails its
// check): trying again will not help.
struct RedisOpenError {
  std::string message;
  bool refused = false;
};

// One connection to the server, authenticated and on the URL's database. Commands are
// written in the server's protocol and its replies parsed by hiredis; the bytes go over a
// socket of this class's own, in TLS for rediss://. Every call waits at most the timeout it
// was opened with; a failed call leaves the connection unusable.
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

  int fd() const { return stream_->fd(); }
  std::string error() const { return error_; }
  // Whether the failure lasts, as a refused certificate does.
  bool refused() const { return refused_; }

 private:
  RedisConnection(std::unique_ptr<ByteStream> stream, std::chrono::milliseconds timeout);
  bool failed(std::string why, bool refused = false);
  bool receive(Deadline deadline);

  std::unique_ptr<ByteStream> stream_;
  std::unique_ptr<redisReader, ReaderDeleter> reader_;
  std::chrono::milliseconds timeout_;
  std::string error_ = "no error";
  bool broken_ = false;
  bool refused_ = false;
};

// The reply's text for a string, status or error reply; empty otherwise.
std::string_view replyText(const redisReply& reply);
bool isErrorReply(const redisReply& reply);

}  // namespace quorin::platform::redis
