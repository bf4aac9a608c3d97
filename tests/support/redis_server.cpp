#include "support/redis_server.hpp"

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/posix/device/device_profile.hpp"
#include "platform/redis/redis_functions.hpp"
#include "platform/redis/redis_limits.hpp"
#include "support/temporary_directory.hpp"

extern char** environ;

namespace quorin::testing {
namespace {

// Whether the server serves commands: it accepts connections before it has loaded its
// append-only file, and answers LOADING until then.
bool serves(const std::filesystem::path& socket) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
  char reply[64] = {};
  bool answered = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::send(fd, "PING\r\n", 6, MSG_NOSIGNAL) == 6 &&
                  ::read(fd, reply, sizeof reply - 1) > 0;
  ::close(fd);
  return answered && std::strncmp(reply, "-LOADING", 8) != 0;
}

bool loadFunctions(const std::filesystem::path& socket,
                   const std::optional<std::string>& password) {
  auto admin = administer(socket, password);
  std::string error;
  return admin && platform::redis::installAccountFunctions(*admin, error);
}

}  // namespace

RedisServer::RedisServer(std::filesystem::path directory, std::optional<std::string> password,
                         std::vector<std::string> listeners)
    : directory_(std::move(directory)),
      socket_(directory_ / "redis.sock"),
      password_(std::move(password)),
      listeners_(std::move(listeners)) {}

RedisServer::~RedisServer() {
  kill();
}

bool RedisServer::start() {
  std::vector<std::string> arguments{"redis-server",
                                     "--port",
                                     "0",
                                     "--unixsocket",
                                     socket_.string(),
                                     "--unixsocketperm",
                                     "700",
                                     "--dir",
                                     directory_.string(),
                                     "--appendonly",
                                     "yes",
                                     "--appendfsync",
                                     "always",
                                     "--save",
                                     "",
                                     "--daemonize",
                                     "no",
                                     "--loglevel",
                                     "warning",
                                     "--logfile",
                                     (directory_ / "log").string()};
  if (password_) arguments.insert(arguments.end(), {"--requirepass", *password_});
  arguments.insert(arguments.end(), listeners_.begin(), listeners_.end());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // Fails when PATH holds no redis-server.
  if (::posix_spawnp(&pid_, "redis-server", nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    return false;
  }
  // A real process starting: this waits on it, not on a clock the test controls.
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (serves(socket_)) return loadFunctions(socket_, password_) || (kill(), false);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill();
  return false;
}

void RedisServer::kill() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string RedisServer::url(const std::string& account, const std::string& credentials) const {
  return "unix://" + credentials + socket_.string() + "?account=" + account;
}

std::optional<std::filesystem::path> sharedRedisSocket() {
  if (const char* socket = std::getenv("QRN_REDIS_SOCKET"); socket && socket[0]) {
    static bool loaded = loadFunctions(socket, std::nullopt);
    return loaded ? std::optional<std::filesystem::path>(socket) : std::nullopt;
  }
  // Destroyed in reverse order at exit: the server stops before its directory goes.
  static TemporaryDirectory directory;
  static std::unique_ptr<RedisServer> server;
  if (!server) {
    server = std::make_unique<RedisServer>(directory.path());
    if (!server->start()) server.reset();
  }
  return server ? std::optional(server->socket()) : std::nullopt;
}

std::unique_ptr<platform::redis::RedisConnection> administer(
    const std::filesystem::path& socket, const std::optional<std::string>& password) {
  platform::redis::RedisEndpoint endpoint;
  endpoint.socketPath = socket.string();
  endpoint.password = password;
  platform::redis::RedisOpenError error;
  return platform::redis::RedisConnection::open(endpoint, std::chrono::seconds(5),
                                                platform::redis::kCommandLimits, error);
}

int freeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

std::string freshAccountName(const std::string& stem) {
  return stem + "-" + platform::posix::randomUuid().uuidString();
}

}  // namespace quorin::testing
