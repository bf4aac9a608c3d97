#pragma once

#include <memory>
#include <string>

#include "platform/redis/redis_stream.hpp"
#include "platform/redis/redis_url.hpp"

namespace quorin::platform::redis {

// TLS 1.2 or later over a socket of the device's own. The session reads and writes through
// memory buffers, and this class moves their bytes over the socket, so that every wait has
// the caller's deadline. The server's certificate must chain to the endpoint's authority and
// name its host; no setting turns that off.
class TlsStream final : public ByteStream {
 public:
  // Connected and through the handshake, or none with `error` saying why; a certificate
  // check that failed, files that cannot be used, or a server that speaks no TLS are
  // `refused`.
  static std::unique_ptr<TlsStream> open(std::unique_ptr<Socket> socket,
                                         const RedisEndpoint& endpoint, Deadline deadline,
                                         std::string& error, bool& refused);
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  bool send(std::string_view bytes, Deadline deadline) override;
  bool receiveReady(std::string& into) override;
  int fd() const override { return socket_->fd(); }

 private:
  struct Session;
  TlsStream(std::unique_ptr<Socket> socket, std::unique_ptr<Session> session);

  bool handshake(const RedisEndpoint& endpoint, Deadline deadline);
  bool unanswered(const RedisEndpoint& endpoint);
  bool flush(Deadline deadline);
  bool takeCiphertext();
  bool sessionFailed(int result, std::string_view what);
  bool failUnanswered(std::string why, bool lasting);

  std::unique_ptr<Socket> socket_;
  std::unique_ptr<Session> session_;
};

}  // namespace quorin::platform::redis
