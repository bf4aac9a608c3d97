#include "platform/redis/redis_connection.hpp"

#include <hiredis/hiredis.h>

#include "formats/excerpt.hpp"
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

void ReaderDeleter::operator()(redisReader* reader) const {
  redisReaderFree(reader);
}

std::unique_ptr<RedisConnection> RedisConnection::open(const RedisEndpoint& endpoint,
                                                       std::chrono::milliseconds timeout,
                                                       const RespLimits& limits,
                                                       RedisOpenError& error) {
  auto stream = connect(endpoint, deadlineAfter(timeout), error);
  if (!stream) return nullptr;
  std::unique_ptr<RedisConnection> connection(
      new RedisConnection(std::move(stream), timeout, limits));
  if (!connection->reader_) {
    error = {"out of memory", false};
    return nullptr;
  }
  // The server's refusal of what the URL says lasts, unless the server is merely busy; an
  // answer that is no answer is its own fault, and passes.
  auto ask = [&](std::vector<std::string_view> arguments, std::string_view answer,
                 std::string_view what) {
    auto reply = connection->command(arguments);
    if (!reply) {
      error = {connection->error(), connection->refused()};
      return false;
    }
    if (isStatusReply(*reply, answer)) return true;
    bool lasting = isErrorReply(*reply) && !isPassingError(replyText(*reply));
    error = {std::string(what) + ": " + describeReply(*reply), lasting};
    return false;
  };
  if (endpoint.password) {
    std::vector<std::string_view> auth{"AUTH"};
    if (!endpoint.user.empty()) auth.push_back(endpoint.user);
    auth.push_back(*endpoint.password);
    if (!ask(auth, "OK", "the server refused the credentials")) return nullptr;
  }
  if (endpoint.database != 0) {
    auto database = std::to_string(endpoint.database);
    if (!ask({"SELECT", database}, "OK", "the server refused database " + database)) return nullptr;
  }
  // A server that wants credentials none were given for says so only when asked something.
  if (!ask({"PING"}, "PONG", "the server refused the connection")) return nullptr;
  return connection;
}

RedisConnection::RedisConnection(std::unique_ptr<ByteStream> stream,
                                 std::chrono::milliseconds timeout, const RespLimits& limits)
    : stream_(std::move(stream)),
      reader_(redisReaderCreate()),
      screen_(limits),
      timeout_(timeout) {}

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
  if (!stream_->send({formatted, static_cast<std::size_t>(length)}, deadline))
    return turnedAway();
  RedisReply reply;
  while (nextReply(reply) && !reply) {
    if (!receive(deadline)) return nullptr;
  }
  return reply;
}

// A server that turns a connection away (a full one) says why and closes it, maybe before
// the command reached it: its error, when it came, is the answer rather than the broken pipe.
RedisReply RedisConnection::turnedAway() {
  auto why = stream_->error();
  bool refused = stream_->refused();
  std::string arrived;
  RedisReply said;
  bool heard = stream_->receiveReady(arrived) && take(arrived) && nextReply(said) && said &&
               isErrorReply(*said);
  failed(why, refused);
  return heard ? std::move(said) : nullptr;
}

// The deadline holds however fast the bytes come: each read takes one piece.
bool RedisConnection::receive(Deadline deadline) {
  std::string arrived;
  if (std::chrono::steady_clock::now() < deadline && stream_->receive(arrived, deadline))
    return take(arrived);
  if (std::chrono::steady_clock::now() >= deadline) {
    return failed(screen_.midReply() ? "the server did not finish its reply in time"
                                     : "the server did not answer in time");
  }
  return failed(stream_->error(), stream_->refused());
}

bool RedisConnection::readAvailable() {
  if (broken_) return false;
  if (auto due = replyDue(); due && std::chrono::steady_clock::now() >= *due)
    return failed("the server did not finish a message in time");
  std::string arrived;
  if (!stream_->receiveReady(arrived)) return failed(stream_->error(), stream_->refused());
  return take(arrived);
}

// A reply still arriving when the piece ends began in this piece unless one was under way
// before it and none ended in it.
bool RedisConnection::take(std::string_view bytes) {
  bool underway = screen_.midReply();
  auto ended = screen_.replies();
  if (!screen_.take(bytes)) return failed(screen_.problem());
  if (screen_.midReply() && (!underway || screen_.replies() != ended))
    replyStarted_ = std::chrono::steady_clock::now();
  return redisReaderFeed(reader_.get(), bytes.data(), bytes.size()) == REDIS_OK ||
         failed("out of memory");
}

std::optional<Deadline> RedisConnection::replyDue() const {
  if (!screen_.midReply()) return std::nullopt;
  return replyStarted_ + timeout_;
}

bool RedisConnection::nextReply(RedisReply& reply) {
  void* raw = nullptr;
  if (broken_) return false;
  if (redisReaderGetReply(reader_.get(), &raw) != REDIS_OK)
    return failed("the server's reply is garbled: " + formats::excerpt(reader_->errstr));
  reply.reset(static_cast<redisReply*>(raw));
  return true;
}

}  // namespace quorin::platform::redis
