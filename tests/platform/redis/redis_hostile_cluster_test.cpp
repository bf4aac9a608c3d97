// The Redis account against a cluster node of the test's own that misleads on purpose:
// redirections in a circle, to nodes that never answer, or to names that are not hosts.
// Each call ends within a command time-out for each node it tries, saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/redis/redis_cloud_account.hpp"
#include "platform/redis/redis_cluster.hpp"
#include "support/fake_redis_server.hpp"

namespace quorin::platform::redis {
namespace {

using namespace std::chrono_literals;
using testing::FakeRedisServer;
using Answer = FakeRedisServer::Answer;
using Command = FakeRedisServer::Command;

const int kSlot = keySlot("quorin:{x}:changes");

// A node that says it serves every slot, and answers a read with `redirection`.
struct MisleadingNode {
  explicit MisleadingNode(std::function<std::string()> redirection)
      : server([this, redirection](const Command& command) {
          if (command.size() == 2 && command[0] == "CLUSTER" && command[1] == "NODES")
            return Answer::send(testing::bulk("e7d1 127.0.0.1:" + std::to_string(port.load()) +
                                              "@1 myself,master - 0 0 1 connected 0-16383\n"));
          if (!command.empty() && command[0] == "HGET")
            return Answer::send(testing::error(redirection()));
          return FakeRedisServer::polite(command);
        }) {
    port = server.port();
  }

  std::atomic<int> port{0};
  FakeRedisServer server;
};

std::string reasonOf(RedisCloudAccount& account) {
  auto status = account.status();
  return status.problem.value_or(status.offlineReason);
}

bool readOne(RedisCloudAccount& account) {
  std::optional<std::string> value;
  return account.current("k", value);
}

int reads(const FakeRedisServer& server) {
  auto received = server.received();
  return static_cast<int>(std::count(received.begin(), received.end(), "HGET"));
}

TEST(RedisHostileClusterTest, RedirectionsInACircleEndTheCall) {
  MisleadingNode node([&] {
    return "MOVED " + std::to_string(kSlot) + " 127.0.0.1:" + std::to_string(node.port.load());
  });
  RedisCloudAccount account(node.server.url("x"));
  EXPECT_FALSE(readOne(account));
  EXPECT_NE(reasonOf(account).find("MOVED"), std::string::npos) << reasonOf(account);
  EXPECT_LE(reads(node.server), 4) << "a few redirections are followed, not endlessly many";
}

TEST(RedisHostileClusterTest, ARedirectionToANameThatIsNoHostIsNotFollowed) {
  MisleadingNode node([] { return "MOVED " + std::to_string(kSlot) + " \x1b[2J:7000"; });
  RedisCloudAccount account(node.server.url("x"));
  EXPECT_FALSE(readOne(account));
  EXPECT_EQ(reads(node.server), 1);
  EXPECT_EQ(reasonOf(account).find('\x1b'), std::string::npos) << "escaped for a terminal";
}

// The node a redirection names accepts and then says nothing: the call ends at the command
// time-out of each node it tries, not later.
TEST(RedisHostileClusterTest, ARedirectionToASilentNodeEndsWithinItsTimeOuts) {
  FakeRedisServer silent([](const Command&) { return Answer::silence(); });
  MisleadingNode node([&] {
    return "MOVED " + std::to_string(kSlot) + " 127.0.0.1:" + std::to_string(silent.port());
  });
  RedisCloudAccount account(node.server.url("x"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(readOne(account));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 2500ms) << "the silent node's one time-out, and no more";
  EXPECT_FALSE(reasonOf(account).empty());
}

}  // namespace
}  // namespace quorin::platform::redis
