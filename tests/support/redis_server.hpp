#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorin::testing {

// A redis-server of the test's own, on a unix socket in `directory`, persisting every
// write to its append-only file, so that a restart after SIGKILL finds what it held.
// `listeners` adds to its command line, as a TLS port does.
class RedisServer {
 public:
  explicit RedisServer(std::filesystem::path directory, std::optional<std::string> password = {},
                       std::vector<std::string> listeners = {});
  ~RedisServer();
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;

  // Starts the server and waits until it answers; false when it would not start.
  bool start();
  void kill();

  std::string url(const std::string& account, const std::string& credentials = "") const;
  const std::filesystem::path& socket() const { return socket_; }

 private:
  std::filesystem::path directory_;
  std::filesystem::path socket_;
  std::optional<std::string> password_;
  std::vector<std::string> listeners_;
  pid_t pid_ = -1;
};

// The socket of the server the test run shares (QRN_REDIS_SOCKET), else of one started
// for this process; none without a redis-server.
std::optional<std::filesystem::path> sharedRedisSocket();

// A loopback TCP port that nothing listens on now.
int freeTcpPort();

// A name no other test uses, so that tests sharing a server do not meet.
std::string freshAccountName(const std::string& stem);

}  // namespace quorin::testing
