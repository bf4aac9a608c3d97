#include "platform/redis/redis_stream.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quorin::platform::redis {
namespace {

int millisecondsUntil(Deadline deadline) {
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

bool waitFor(int fd, short events, Deadline deadline) {
  pollfd waiting{fd, events, 0};
  while (true) {
    int ready = ::poll(&waiting, 1, millisecondsUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// A connect that gives up at the deadline: the socket is non-blocking from the start.
common::FileDescriptor connectBy(int family, const sockaddr* address, socklen_t length,
                                 Deadline deadline, std::string& error) {
  common::FileDescriptor fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.isOpen()) {
    error = std::strerror(errno);
    return fd;
  }
  if (::connect(fd.get(), address, length) != 0 && errno != EINPROGRESS) {
    error = std::strerror(errno);
    return common::FileDescriptor();
  }
  int failure = 0;
  socklen_t size = sizeof failure;
  if (!waitFor(fd.get(), POLLOUT, deadline)) {
    failure = ETIMEDOUT;
  } else if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &failure, &size) != 0) {
    failure = errno;
  }
  if (failure == 0) return fd;
  error = std::strerror(failure);
  return common::FileDescriptor();
}

}  // namespace

bool ByteStream::fail(std::string why, bool refused) {
  error_ = std::move(why);
  refused_ = refused;
  return false;
}

bool ByteStream::wait(Deadline deadline, bool output) {
  if (std::chrono::steady_clock::now() < deadline &&
      waitFor(fd(), output ? POLLOUT : POLLIN, deadline))
    return true;
  return fail("the server did not answer in time");
}

bool ByteStream::receive(std::string& into, Deadline deadline) {
  auto had = into.size();
  while (true) {
    if (!receiveReady(into)) return false;
    if (into.size() > had) return true;
    if (!wait(deadline)) return false;
  }
}

// Every address the name has is tried in turn, within the one deadline.
std::unique_ptr<Socket> Socket::connectTcp(const std::string& host, int port, Deadline deadline,
                                           std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  auto place = host + ":" + std::to_string(port);
  if (int code = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found)) {
    error = "cannot resolve " + host + ": " + ::gai_strerror(code);
    return nullptr;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
  std::string why = "no address";
  for (auto* address = found; address; address = address->ai_next) {
    auto fd = connectBy(address->ai_family, address->ai_addr, address->ai_addrlen, deadline, why);
    if (!fd.isOpen()) continue;
    int one = 1;  // a command is one small write, which must not wait for more
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::make_unique<Socket>(std::move(fd));
  }
  error = "cannot connect to " + place + ": " + why;
  return nullptr;
}

std::unique_ptr<Socket> Socket::connectUnix(const std::string& path, Deadline deadline,
                                            std::string& error) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    error = "the socket path is too long";
    return nullptr;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  std::string why;
  auto fd =
      connectBy(AF_UNIX, reinterpret_cast<sockaddr*>(&address), sizeof address, deadline, why);
  if (!fd.isOpen()) {
    error = "cannot connect to " + path + ": " + why;
    return nullptr;
  }
  return std::make_unique<Socket>(std::move(fd));
}

// MSG_NOSIGNAL: a server that has gone must not raise SIGPIPE, which would end the host.
bool Socket::send(std::string_view bytes, Deadline deadline) {
  while (!bytes.empty()) {
    auto sent = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait(deadline, true)) return false;
    } else if (errno != EINTR) {
      return fail(std::string("the connection failed: ") + std::strerror(errno));
    }
  }
  return true;
}

// One read at most, so that a server that keeps sending cannot hold the caller here.
bool Socket::receiveReady(std::string& into) {
  char buffer[kReadChunk];
  while (true) {
    auto got = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) return (into.append(buffer, static_cast<std::size_t>(got)), true);
    if (got == 0) return fail("the server closed the connection");
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    if (errno != EINTR) return fail(std::string("the connection failed: ") + std::strerror(errno));
  }
}

}  // namespace quorin::platform::redis
