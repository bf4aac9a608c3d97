#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/redis/redis_connection.hpp"

namespace quorin::testing {

// A redis-server of the test's own, on a unix socket in `directory`, persisting every
// write to its append-only file, so that a restart after SIGKILL finds what it held, with
// the accounts' functions loaded, as provisioning loads them. `listeners` adds to its
// command line, as a TLS port does.
class RedisServer {
 public:
  explicit RedisServer(std::filesystem::path directory, std::optional<std::string> password = {},
                       std::vector<std::string> listeners = {});
  ~RedisServer();
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;

  // Starts the server, waits until it answers and loads the functions; false when it would
  // not start.
  bool start();
  void kill();

  std::string url(const std::string& account, const std::string& credentials = "") const;
  const std::filesystem::path& socket() const { return socket_; }
  const std::optional<std::string>& password() const { return password_; }

 private:
  std::filesystem::path directory_;
  std::filesystem::path socket_;
  std::optional<std::string> password_;
  std::vector<std::string> listeners_;
  pid_t pid_ = -1;
};

// The socket of the server the test run shares (QRN_REDIS_SOCKET), else of one started
// for this process, with the accounts' functions loaded; none without a redis-server.
std::optional<std::filesystem::path> sharedRedisSocket();

// A connection to the server on `socket` as its default user, for a test's own
// administration; none when it would not open.
std::unique_ptr<platform::redis::RedisConnection> administer(
    const std::filesystem::path& socket, const std::optional<std::string>& password = {});

// A loopback TCP port that nothing listens on now.
int freeTcpPort();

// A name no other test uses, so that tests sharing a server do not meet.
std::string freshAccountName(const std::string& stem);

}  // namespace quorin::testing
