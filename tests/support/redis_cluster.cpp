#include "support/redis_cluster.hpp"

#include <fcntl.h>
#include <hiredis/hiredis.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

#include "platform/redis/redis_cluster.hpp"
#include "platform/redis/redis_functions.hpp"
#include "platform/redis/redis_limits.hpp"
#include "support/temporary_directory.hpp"

extern char** environ;

namespace quorin::testing {
namespace {

using namespace std::chrono_literals;

// The child's output goes to `output`, to be shown when the cluster does not form.
pid_t spawn(std::vector<std::string> arguments, const std::filesystem::path& output) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool exited(pid_t pid) {
  return ::waitpid(pid, nullptr, WNOHANG) == pid;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// A real cluster forming: this waits on it, not on a clock the test controls.
bool waitUntil(const std::function<bool()>& done) {
  for (int attempt = 0; attempt < 300; ++attempt) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

}  // namespace

RedisCluster::RedisCluster(std::filesystem::path directory) : directory_(std::move(directory)) {}

RedisCluster::~RedisCluster() {
  for (auto pid : pids_) ::kill(pid, SIGKILL);
  for (auto pid : pids_) ::waitpid(pid, nullptr, 0);
}

// A port taken since it was picked makes the server exit, and another is tried. Until it
// exits, the port's owner answers for it: only its process id says the node is ours.
bool RedisCluster::startNode() {
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 50; ++attempt) {
    auto port = std::to_string(20000 + random() % 30000);
    auto dir = directory_ / port;
    std::filesystem::create_directories(dir);
    auto pid = spawn({"redis-server", "--bind", "127.0.0.1", "--port", port, "--dir", dir.string(),
                      "--daemonize", "no", "--cluster-enabled", "yes", "--cluster-config-file",
                      "nodes.conf", "--cluster-node-timeout", "1000",
                      "--cluster-replica-validity-factor", "0",
                      "--cluster-require-full-coverage", "no", "--appendonly", "no", "--save",
                      "", "--logfile", (dir / "log").string()},
                     dir / "output");
    if (pid < 0) return false;
    auto node = "127.0.0.1:" + port;
    // Once reaped, the process id may be another's: it is asked after only once.
    bool gone = false;
    if (waitUntil([&] { return (gone = exited(pid)) || pidOf(node) == pid; }) && !gone) {
      pids_.push_back(pid);
      nodes_.push_back(node);
      return true;
    }
    if (gone) continue;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return false;
}

bool RedisCluster::start() {
  for (int i = 0; i < 6; ++i)
    if (!startNode()) return false;
  std::vector<std::string> create{"redis-cli", "--cluster", "create"};
  create.insert(create.end(), nodes_.begin(), nodes_.end());
  create.insert(create.end(), {"--cluster-replicas", "1", "--cluster-yes"});
  auto output = directory_ / "create.log";
  auto creator = spawn(create, output);
  int status = 0;
  if (creator < 0 || ::waitpid(creator, &status, 0) != creator || status != 0) {
    std::ifstream log(output);
    std::cerr << "the cluster was not created:\n" << log.rdbuf();
    return false;
  }
  auto whole = [&] {
    for (const auto& node : nodes_) {
      auto info = askNode(node, {"CLUSTER", "INFO"});
      if (!info || info->find("cluster_state:ok") == std::string::npos) return false;
      // A replica still copying its master confirms no write.
      auto replication = askNode(node, {"INFO", "replication"});
      if (!replication || (replication->find("role:master") == std::string::npos &&
                           replication->find("master_link_status:up") == std::string::npos))
        return false;
    }
    return true;
  };
  return waitUntil(whole) && loadFunctionsOnMasters(nodes_);
}

std::optional<std::vector<std::string>> sharedRedisCluster() {
  if (const char* nodes = std::getenv("QRN_REDIS_CLUSTER"); nodes && nodes[0]) {
    static auto listed = split(nodes, ',');
    static bool loaded = loadFunctionsOnMasters(listed);
    return loaded ? std::optional(listed) : std::nullopt;
  }
  // Destroyed in reverse order at exit: the nodes stop before their directory goes.
  static TemporaryDirectory directory;
  static std::unique_ptr<RedisCluster> cluster;
  if (!cluster) {
    cluster = std::make_unique<RedisCluster>(directory.path());
    if (!cluster->start()) cluster.reset();
  }
  return cluster ? std::optional(cluster->nodes()) : std::nullopt;
}

std::unique_ptr<platform::redis::RedisConnection> administerNode(const std::string& node) {
  std::string error;
  auto endpoint = platform::redis::parseRedisServerUrl("redis://" + node, error);
  if (!endpoint) return nullptr;
  platform::redis::RedisOpenError openError;
  return platform::redis::RedisConnection::open(*endpoint, std::chrono::seconds(5),
                                                platform::redis::kCommandLimits, openError);
}

std::optional<std::string> askNode(const std::string& node, std::vector<std::string> command) {
  auto connection = administerNode(node);
  if (!connection) return std::nullopt;
  std::vector<std::string_view> views(command.begin(), command.end());
  auto reply = connection->command(views);
  if (!reply || reply->type == REDIS_REPLY_ERROR) return std::nullopt;
  if (reply->type == REDIS_REPLY_INTEGER) return std::to_string(reply->integer);
  return std::string(platform::redis::replyText(*reply));
}

std::optional<SlotHolders> holdersOf(const std::vector<std::string>& nodes, int slot) {
  for (const auto& node : nodes) {
    auto text = askNode(node, {"CLUSTER", "NODES"});
    std::string error;
    auto servers = text ? platform::redis::parseClusterNodes(*text, slot, error) : std::nullopt;
    if (!servers || !servers->master) continue;
    SlotHolders holders{servers->master->address(), {}};
    for (const auto& replica : servers->replicas) holders.replicas.push_back(replica.address());
    return holders;
  }
  return std::nullopt;
}

pid_t pidOf(const std::string& node) {
  auto info = askNode(node, {"INFO", "server"});
  auto at = info ? info->find("process_id:") : std::string::npos;
  return at == std::string::npos ? -1 : std::atoi(info->c_str() + at + 11);
}

bool loadFunctionsOnMasters(const std::vector<std::string>& nodes) {
  for (const auto& node : nodes) {
    auto replication = askNode(node, {"INFO", "replication"});
    if (!replication) return false;
    if (replication->find("role:master") == std::string::npos) continue;
    auto connection = administerNode(node);
    std::string error;
    if (!connection || !platform::redis::installAccountFunctions(*connection, error)) return false;
  }
  return true;
}

}  // namespace quorin::testing
