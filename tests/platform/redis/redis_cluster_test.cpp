// How a device reads a cluster's words: the slot of a key, the list of its nodes and its
// redirections.
#include <gtest/gtest.h>

#include "platform/redis/redis_cluster.hpp"
#include "platform/redis/redis_url.hpp"

namespace quorin::platform::redis {
namespace {

// The slots the cluster itself gives for these keys (CLUSTER KEYSLOT).
TEST(RedisClusterTest, AKeyLivesInTheSlotOfItsHashTag) {
  EXPECT_EQ(keySlot("{acc}"), 12007);
  EXPECT_EQ(keySlot("quorin:{acc}:values"), 12007);
  EXPECT_EQ(keySlot("123456789"), 0x31C3 % 16384);
  EXPECT_EQ(keySlot("foo{}bar"), keySlot("foo{}bar")) << "an empty tag hashes the whole key";
  EXPECT_NE(keySlot("foo{}bar"), keySlot(""));
  EXPECT_EQ(keySlot("{user1000}.following"), keySlot("{user1000}.followers"));
}

constexpr const char* kNodes =
    "07c3 127.0.0.1:30004@40004 slave e7d1 0 1426238317239 4 connected\n"
    "67ed 127.0.0.1:30002@40002 master - 0 1426238316232 2 connected 5461-10922\n"
    "292f 127.0.0.1:30003@40003 master - 0 1426238318243 3 connected 10923-16383 [93-<-67ed]\n"
    "6ec2 127.0.0.1:30005@40005 slave 67ed 0 1426238316232 5 connected\n"
    "824f 127.0.0.1:30006@40006 slave,fail 292f 0 1426238317741 6 disconnected\n"
    "e7d1 127.0.0.1:30001@40001,node1.example myself,master - 0 0 1 connected 0-5460\n";

TEST(RedisClusterTest, TheListOfNodesNamesTheSlotsMasterAndItsLiveReplicas) {
  std::string error;
  auto servers = parseClusterNodes(kNodes, 12007, error);
  ASSERT_TRUE(servers) << error;
  ASSERT_TRUE(servers->master);
  EXPECT_EQ(servers->master->address(), "127.0.0.1:30003");
  EXPECT_TRUE(servers->replicas.empty()) << "its one replica is failing";
  EXPECT_EQ(servers->nodes.size(), 6u);

  servers = parseClusterNodes(kNodes, 93, error);
  ASSERT_TRUE(servers && servers->master);
  EXPECT_EQ(servers->master->address(), "node1.example:30001") << "by the name it announces";
  ASSERT_EQ(servers->replicas.size(), 1u);
  EXPECT_EQ(servers->replicas[0].address(), "127.0.0.1:30004");

  servers = parseClusterNodes("e7d1 127.0.0.1:30001@40001 myself,master - 0 0 1 connected 0-9\n",
                              10, error);
  ASSERT_TRUE(servers);
  EXPECT_FALSE(servers->master) << "no master holds slot 10";
}

TEST(RedisClusterTest, AListOfNodesThatIsNotOneIsRefused) {
  std::string error;
  EXPECT_FALSE(parseClusterNodes("", 1, error));
  EXPECT_FALSE(parseClusterNodes("e7d1 127.0.0.1:30001@40001 master\n", 1, error));
  EXPECT_FALSE(parseClusterNodes("e7d1 nowhere master - 0 0 1 connected 0-5\n", 1, error));
  EXPECT_FALSE(parseClusterNodes("e7d1 h:99999@1 master - 0 0 1 connected 0-5\n", 1, error));
  EXPECT_FALSE(error.empty());
}

// A node's name reaches connections and the messages a terminal shows: one that is no host
// name is refused, whoever sends it.
TEST(RedisClusterTest, ANodeNamedByNoHostNameIsNotFollowed) {
  EXPECT_FALSE(redirectionOf("MOVED 1 []:6381")) << "no host at all";
  EXPECT_FALSE(redirectionOf("MOVED 1 :6381"));
  EXPECT_FALSE(redirectionOf("MOVED 1 \x1b[2J\x1b]0;owned\a:6381"));
  EXPECT_FALSE(redirectionOf("ASK 1 host\r\nFLUSHALL:6381"));
  EXPECT_FALSE(redirectionOf("MOVED 1 " + std::string(300, 'a') + ":6381"));
  std::string error;
  EXPECT_FALSE(
      parseClusterNodes("e7d1 []:30001@40001 myself,master - 0 0 1 connected 0-9\n", 1, error));
  EXPECT_FALSE(parseClusterNodes(
      "e7d1 127.0.0.1:30001@40001,\x1b[31mred myself,master - 0 0 1 connected 0-9\n", 1, error));
  EXPECT_FALSE(error.empty());
}

TEST(RedisClusterTest, FieldsAfterANodesHostnameAreNotPartOfIt) {
  std::string error;
  auto servers = parseClusterNodes(
      "e7d1 127.0.0.1:30001@40001,,shard-id=93ab myself,master - 0 0 1 connected 0-9\n"
      "07c3 127.0.0.1:30004@40004,node4.example,shard-id=93ab slave e7d1 0 0 1 connected\n",
      1, error);
  ASSERT_TRUE(servers && servers->master) << error;
  EXPECT_EQ(servers->master->address(), "127.0.0.1:30001");
  ASSERT_EQ(servers->replicas.size(), 1u);
  EXPECT_EQ(servers->replicas[0].address(), "node4.example:30004");
}

TEST(RedisClusterTest, RedirectionsSayWhereTheSlotIs) {
  auto moved = redirectionOf("MOVED 3999 127.0.0.1:6381");
  ASSERT_TRUE(moved);
  EXPECT_FALSE(moved->ask);
  EXPECT_EQ(moved->to.address(), "127.0.0.1:6381");
  auto ask = redirectionOf("ASK 3999 ::1:6381");
  ASSERT_TRUE(ask);
  EXPECT_TRUE(ask->ask);
  EXPECT_EQ(ask->to.address(), "[::1]:6381");
  EXPECT_FALSE(redirectionOf("MOVED 3999"));
  EXPECT_FALSE(redirectionOf("MOVED 99999 127.0.0.1:6381"));
  EXPECT_FALSE(redirectionOf("ERR MOVED 1 127.0.0.1:6381"));
  EXPECT_FALSE(redirectionOf("MOVED 1 127.0.0.1:0"));
}

TEST(RedisClusterTest, ANodeIsReachedWithTheSeedsCredentialsAndFiles) {
  std::string error;
  auto seed =
      parseRedisUrl("rediss://u:p@a.example:7000/0?account=x&ca=/ca.pem&node=b:7001", error);
  ASSERT_TRUE(seed) << error;
  auto node = nodeEndpoint(*seed, {"c.example", 7002, true});
  EXPECT_EQ(node.host, "c.example");
  EXPECT_EQ(node.port, 7002);
  EXPECT_TRUE(node.tls);
  EXPECT_EQ(node.caFile, "/ca.pem");
  EXPECT_EQ(node.password, "p");
  EXPECT_EQ(node.account, "x");
}

}  // namespace
}  // namespace quorin::platform::redis
