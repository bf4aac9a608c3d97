#include "platform/redis/redis_connection.hpp"

#include <hiredis/hiredis.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace quorin::platform::redis {
namespace {

timeval toTimeval(std::chrono::milliseconds timeout) {
  return {static_cast<time_t>(timeout.count() / 1000),
          static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
}

redisContext* connect(const RedisEndpoint& endpoint, std::chrono::milliseconds timeout) {
  auto tv = toTimeval(timeout);
  return endpoint.socketPath.empty()
             ? redisConnectWithTimeout(endpoint.host.c_str(), endpoint.port, tv)
             : redisConnectUnixWithTimeout(endpoint.socketPath.c_str(), tv);
}

// A write to a server that has gone raises SIGPIPE, which would end the host. The signal
// is held back on this thread for the command and taken if the command raised it.
class HeldSigpipe {
 public:
  HeldSigpipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~HeldSigpipe() {
    sigset_t pending;
    if (!alreadyPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      timespec now{};
      sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  HeldSigpipe(const HeldSigpipe&) = delete;
  HeldSigpipe& operator=(const HeldSigpipe&) = delete;

 private:
  sigset_t pipe_{};
  sigset_t previous_{};
  bool alreadyPending_ = false;
};

}  // namespace

void ReplyDeleter::operator()(redisReply* reply) const {
  freeReplyObject(reply);
}

std::string_view replyText(const redisReply& reply) {
  bool textual = reply.type == REDIS_REPLY_STRING || reply.type == REDIS_REPLY_STATUS ||
                 reply.type == REDIS_REPLY_ERROR;
  return textual && reply.str ? std::string_view(reply.str, reply.len) : std::string_view();
}

bool isErrorReply(const redisReply& reply) {
  return reply.type == REDIS_REPLY_ERROR;
}

std::unique_ptr<RedisConnection> RedisConnection::open(const RedisEndpoint& endpoint,
                                                       std::chrono::milliseconds timeout,
                                                       RedisOpenError& error) {
  redisContext* context = connect(endpoint, timeout);
  if (!context) {
    error = {"out of memory", false};
    return nullptr;
  }
  std::unique_ptr<RedisConnection> connection(new RedisConnection(context));
  if (context->err || redisSetTimeout(context, toTimeval(timeout)) != REDIS_OK) {
    error = {connection->error(), false};
    return nullptr;
  }
  auto ask = [&](std::vector<std::string_view> arguments, std::string_view what) {
    auto reply = connection->command(arguments);
    if (!reply) {
      error = {connection->error(), false};
      return false;
    }
    if (isErrorReply(*reply)) {
      // A server still loading its data serves us shortly; any other refusal lasts.
      auto text = replyText(*reply);
      error = {std::string(what) + ": " + std::string(text), !text.starts_with("LOADING")};
      return false;
    }
    return true;
  };
  if (endpoint.password) {
    std::vector<std::string_view> auth{"AUTH"};
    if (!endpoint.user.empty()) auth.push_back(endpoint.user);
    auth.push_back(*endpoint.password);
    if (!ask(auth, "the server refused the credentials")) return nullptr;
  }
  if (endpoint.database != 0) {
    auto database = std::to_string(endpoint.database);
    if (!ask({"SELECT", database}, "the server refused database " + database)) return nullptr;
  }
  // A server that wants credentials none were given for says so only when asked something.
  if (!ask({"PING"}, "the server refused the connection")) return nullptr;
  return connection;
}

RedisConnection::~RedisConnection() {
  redisFree(context_);
}

RedisReply RedisConnection::command(const std::vector<std::string_view>& arguments) {
  std::vector<const char*> pointers;
  std::vector<std::size_t> lengths;
  for (auto argument : arguments) {
    pointers.push_back(argument.data());
    lengths.push_back(argument.size());
  }
  HeldSigpipe held;
  return RedisReply(static_cast<redisReply*>(redisCommandArgv(
      context_, static_cast<int>(pointers.size()), pointers.data(), lengths.data())));
}

bool RedisConnection::readAvailable() {
  return redisBufferRead(context_) == REDIS_OK;
}

bool RedisConnection::nextReply(RedisReply& reply) {
  void* raw = nullptr;
  if (redisGetReplyFromReader(context_, &raw) != REDIS_OK) return false;
  reply.reset(static_cast<redisReply*>(raw));
  return true;
}

int RedisConnection::fd() const {
  return context_->fd;
}

std::string RedisConnection::error() const {
  if (!context_->err) return "no error";
  return context_->errstr[0] ? context_->errstr : "connection failed";
}

}  // namespace quorin::platform::redis
