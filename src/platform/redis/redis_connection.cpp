#include "platform/redis/redis_connection.hpp"

#include <hiredis/hiredis.h>

#include "platform/redis/redis_tls.hpp"

namespace quorin::platform::redis {
namespace {

Deadline deadlineAfter(std::chrono::milliseconds timeout) {
  return std::chrono::steady_clock::now() + timeout;
}

std::unique_ptr<ByteStream> connect(const RedisEndpoint& endpoint, Deadline deadline,
                                    RedisOpenError& error) {
  if (!endpoint.socketPath.empty())
    return Socket::connectUnix(endpoint.socketPath, deadline, error.message);
  auto socket = Socket::connectTcp(endpoint.host, endpoint.port, deadline, error.message);
  if (!socket || !endpoint.tls) return socket;
  return TlsStream::open(std::move(socket), endpoint, deadline, error.message, error.refused);
}

}  // namespace

void ReplyDeleter::operator()(redisReply* reply) const {
  freeReplyObject(reply);
}

void ReaderDeleter::operator()(redisReader* reader) const {
  redisReaderFree(reader);
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
  auto stream = connect(endpoint, deadlineAfter(timeout), error);
  if (!stream) return nullptr;
  std::unique_ptr<RedisConnection> connection(new RedisConnection(std::move(stream), timeout));
  if (!connection->reader_) {
    error = {"out of memory", false};
    return nullptr;
  }
  auto ask = [&](std::vector<std::string_view> arguments, std::string_view what) {
    auto reply = connection->command(arguments);
    if (!reply) {
      error = {connection->error(), connection->refused()};
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

RedisConnection::RedisConnection(std::unique_ptr<ByteStream> stream,
                                 std::chrono::milliseconds timeout)
    : stream_(std::move(stream)), reader_(redisReaderCreate()), timeout_(timeout) {}

RedisConnection::~RedisConnection() = default;

bool RedisConnection::failed(std::string why, bool refused) {
  broken_ = true;
  error_ = std::move(why);
  refused_ = refused;
  return false;
}

RedisReply RedisConnection::command(const std::vector<std::string_view>& arguments) {
  if (broken_) return nullptr;
  std::vector<const char*> pointers;
  std::vector<std::size_t> lengths;
  for (auto argument : arguments) {
    pointers.push_back(argument.data());
    lengths.push_back(argument.size());
  }
  char* formatted = nullptr;
  int length = redisFormatCommandArgv(&formatted, static_cast<int>(pointers.size()),
                                      pointers.data(), lengths.data());
  if (length < 0) {
    failed("out of memory");
    return nullptr;
  }
  std::unique_ptr<char, decltype(&redisFreeCommand)> held(formatted, redisFreeCommand);
  auto deadline = deadlineAfter(timeout_);
  if (!stream_->send({formatted, static_cast<std::size_t>(length)}, deadline)) {
    failed(stream_->error(), stream_->refused());
    return nullptr;
  }
  RedisReply reply;
  while (nextReply(reply) && !reply) {
    if (!receive(deadline)) return nullptr;
  }
  return reply;
}

bool RedisConnection::receive(Deadline deadline) {
  std::string arrived;
  if (!stream_->receive(arrived, deadline)) return failed(stream_->error(), stream_->refused());
  return redisReaderFeed(reader_.get(), arrived.data(), arrived.size()) == REDIS_OK ||
         failed("out of memory");
}

bool RedisConnection::readAvailable() {
  std::string arrived;
  if (broken_) return false;
  if (!stream_->receiveReady(arrived)) return failed(stream_->error(), stream_->refused());
  return redisReaderFeed(reader_.get(), arrived.data(), arrived.size()) == REDIS_OK ||
         failed("out of memory");
}

bool RedisConnection::nextReply(RedisReply& reply) {
  void* raw = nullptr;
  if (broken_) return false;
  if (redisReaderGetReply(reader_.get(), &raw) != REDIS_OK)
    return failed(std::string("the server's reply is garbled: ") + reader_->errstr);
  reply.reset(static_cast<redisReply*>(raw));
  return true;
}

}  // namespace quorin::platform::redis
