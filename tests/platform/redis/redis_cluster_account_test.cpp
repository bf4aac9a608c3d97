// A cloud account on a Redis Cluster: reached through any node, followed as its slot moves,
// and losing no write a device let go of when the slot's master dies before its replica
// copied it.
#include <gtest/gtest.h>
#include <hiredis/hiredis.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux/cloud_account_location.hpp"
#include "platform/redis/redis_account_user.hpp"
#include "platform/redis/redis_cluster.hpp"
#include "platform/redis/redis_limits.hpp"
#include "support/cloud_device.hpp"
#include "support/eventually.hpp"
#include "support/redis_cluster.hpp"
#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using testing::eventually;

int slotOf(const std::string& account) {
  return redis::keySlot(redis::accountKeyPrefix(account));
}

// A node that is not `master`: the seed a device is given.
std::string otherThan(const std::vector<std::string>& nodes, const std::string& master) {
  return *std::find_if(nodes.begin(), nodes.end(),
                       [&](const auto& node) { return node != master; });
}

std::vector<std::string> arrayOf(const std::string& node, std::vector<std::string_view> command) {
  auto connection = testing::administerNode(node);
  auto reply = connection ? connection->command(command) : nullptr;
  std::vector<std::string> texts;
  if (!reply || reply->type != REDIS_REPLY_ARRAY) return texts;
  for (std::size_t i = 0; i < reply->elements; ++i)
    texts.emplace_back(redis::replyText(*reply->element[i]));
  return texts;
}

class RedisClusterAccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nodes = testing::sharedRedisCluster().value_or(std::vector<std::string>{});
    if (nodes.empty()) {
      if (std::getenv("QRN_REQUIRE_CLUSTER")) FAIL() << "no Redis Cluster for the tests";
      GTEST_SKIP() << "no Redis Cluster";
    }
  }

  void useCluster(const std::vector<std::string>& of) {
    nodes = of;
    auto holders = testing::holdersOf(nodes, slotOf(account));
    ASSERT_TRUE(holders);
    master = holders->master;
    replicas = holders->replicas;
    url = "redis://" + otherThan(nodes, master) + "/0?account=" + account;
    for (const auto& node : nodes) url += "&node=" + node;
  }

  std::unique_ptr<testing::CloudDevice> device() {
    auto selection = std::make_shared<CloudAccountSelection>(url, linux::cloudAccountKinds());
    return std::make_unique<testing::CloudDevice>(std::move(selection),
                                                  root.path() / std::to_string(devices_++), center);
  }

  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  std::vector<std::string> nodes;
  std::string account = testing::freshAccountName("cluster");
  std::string master, url;
  std::vector<std::string> replicas;

 private:
  int devices_ = 0;
};

TEST_F(RedisClusterAccountTest, AValueCrossesThroughASeedThatDoesNotServeTheAccount) {
  useCluster(nodes);
  auto phone = device();
  auto tablet = device();
  ASSERT_TRUE(tablet->store.exchange()) << tablet->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->store.synchronize());
  phone->store.setObject(formats::Value("hello"), "greeting");
  ASSERT_TRUE(phone->store.exchange()) << phone->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->waitForChange()) << "the waiting device hears of the write";
  EXPECT_EQ(tablet->text("greeting"), "hello");

  auto status = phone->store.status().account;
  EXPECT_EQ(status.servedBy, master);
  EXPECT_NE(status.replication.find("1 replica(s)"), std::string::npos) << status.replication;
}

// The slot moves to another master while a device waits on the account: its shard
// subscription ends there and is made where the slot lives now, and the write after the
// move reaches it.
TEST_F(RedisClusterAccountTest, AWriteAfterTheSlotMovesIsDelivered) {
  useCluster(nodes);
  auto slot = std::to_string(slotOf(account));
  auto phone = device();
  auto tablet = device();
  phone->store.setObject(formats::Value("before"), "k");
  ASSERT_TRUE(phone->store.exchange()) << phone->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->store.exchange()) << tablet->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->store.synchronize());
  tablet->takeChanges();

  std::string target;
  for (const auto& node : nodes) {
    auto role = testing::askNode(node, {"INFO", "replication"});
    if (node != master && role && role->find("role:master") != std::string::npos) target = node;
  }
  ASSERT_FALSE(target.empty());
  auto sourceId = testing::askNode(master, {"CLUSTER", "MYID"}).value_or("");
  auto targetId = testing::askNode(target, {"CLUSTER", "MYID"}).value_or("");
  ASSERT_TRUE(testing::askNode(target, {"CLUSTER", "SETSLOT", slot, "IMPORTING", sourceId}));
  ASSERT_TRUE(testing::askNode(master, {"CLUSTER", "SETSLOT", slot, "MIGRATING", targetId}));
  auto keys = arrayOf(master, {"CLUSTER", "GETKEYSINSLOT", slot, "1000"});
  ASSERT_FALSE(keys.empty());
  auto colon = target.rfind(':');
  std::vector<std::string> migrate{
      "MIGRATE", target.substr(0, colon), target.substr(colon + 1), "", "0", "5000", "KEYS"};
  migrate.insert(migrate.end(), keys.begin(), keys.end());
  ASSERT_TRUE(testing::askNode(master, migrate));
  for (const auto& node : nodes)
    testing::askNode(node, {"CLUSTER", "SETSLOT", slot, "NODE", targetId});

  phone->store.setObject(formats::Value("after"), "k");
  EXPECT_TRUE(eventually([&] { return phone->store.exchange(); }));
  EXPECT_TRUE(eventually([&] { return tablet->text("k") == "after"; })) << "without a local call";
  EXPECT_EQ(phone->store.status().account.servedBy, target);
}

// Users and functions are each node's own: provisioning reaches every node of the cluster,
// and so does revoking.
TEST_F(RedisClusterAccountTest, AProvisionedUserIsOnEveryNodeAndARevokedOneOnNone) {
  std::string error;
  auto server = redis::parseRedisServerUrl("redis://" + nodes.front(), error);
  ASSERT_TRUE(server) << error;
  std::vector<std::string> unreached;
  auto provisioned = redis::provisionAccount(*server, account, error, unreached);
  ASSERT_TRUE(provisioned) << error;
  EXPECT_TRUE(unreached.empty());
  auto user = redis::accountUserName(account);
  for (const auto& node : nodes) {
    auto users = arrayOf(node, {"ACL", "USERS"});
    EXPECT_NE(std::find(users.begin(), users.end(), user), users.end()) << node;
  }
  url = *provisioned;
  auto phone = device();
  auto tablet = device();
  phone->store.setObject(formats::Value("with its own user"), "k");
  ASSERT_TRUE(phone->store.exchange()) << phone->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->store.exchange()) << tablet->store.status().account.offlineReason;
  EXPECT_EQ(tablet->text("k"), "with its own user");

  EXPECT_EQ(redis::revokeAccount(*server, account, error, unreached), redis::Revocation::revoked)
      << error;
  auto device = redis::parseRedisUrl(*provisioned, error);
  ASSERT_TRUE(device);
  for (const auto& node : nodes) {
    auto users = arrayOf(node, {"ACL", "USERS"});
    EXPECT_EQ(std::find(users.begin(), users.end(), user), users.end()) << node;
    redis::RedisOpenError refusal;
    auto colon = node.rfind(':');
    auto endpoint = redis::nodeEndpoint(
        *device, {node.substr(0, colon), std::atoi(node.c_str() + colon + 1), true});
    EXPECT_FALSE(redis::RedisConnection::open(endpoint, std::chrono::seconds(2),
                                              redis::kCommandLimits, refusal));
    EXPECT_TRUE(refusal.refused) << node << ": " << refusal.message;
  }
}

// The replica stops before the master acknowledges the writes; the master dies; the
// replica, back, is promoted without them. Every write made meanwhile stayed in the
// device's journal until a replica had it, and arrives.
TEST_F(RedisClusterAccountTest, NoWriteALostMasterTookIsLost) {
  testing::TemporaryDirectory own;
  testing::RedisCluster cluster(own.path());
  ASSERT_TRUE(cluster.start());
  useCluster(cluster.nodes());
  ASSERT_EQ(replicas.size(), 1u);
  auto masterPid = testing::pidOf(master), replicaPid = testing::pidOf(replicas[0]);
  ASSERT_GT(masterPid, 0);
  ASSERT_GT(replicaPid, 0);
  auto phone = device();
  auto tablet = device();
  ASSERT_TRUE(tablet->store.exchange()) << tablet->store.status().account.offlineReason;
  ASSERT_TRUE(tablet->store.synchronize());
  ASSERT_TRUE(phone->store.synchronize()) << "a watching device reconnects by itself";
  phone->store.setObject(formats::Value("copied"), "before");
  ASSERT_TRUE(phone->store.exchange()) << phone->store.status().account.offlineReason;

  ASSERT_EQ(::kill(replicaPid, SIGSTOP), 0);
  for (auto key : {"unconfirmed-1", "unconfirmed-2"}) {
    EXPECT_TRUE(phone->store.write(key, formats::Value(std::string("v-") + key)));
    EXPECT_FALSE(phone->store.exchange()) << "the master alone has it";
  }
  EXPECT_EQ(phone->store.status().pendingWrites, 2u);
  ::kill(masterPid, SIGKILL);
  ::kill(replicaPid, SIGCONT);
  EXPECT_TRUE(phone->store.write("during", formats::Value("the failover")));

  std::vector<std::string> alive;
  std::copy_if(nodes.begin(), nodes.end(), std::back_inserter(alive),
               [&](const auto& node) { return node != master; });
  ASSERT_TRUE(eventually([&] {
    auto holders = testing::holdersOf(alive, slotOf(account));
    return holders && holders->master == replicas[0];
  })) << "the replica is promoted";

  EXPECT_TRUE(eventually([&] { return phone->store.exchange(); }));
  EXPECT_EQ(phone->store.status().pendingWrites, 0u);
  EXPECT_NE(phone->store.status().account.replication.find("none"), std::string::npos)
      << phone->store.status().account.replication;
  auto laptop = device();
  ASSERT_TRUE(eventually([&] { return laptop->store.exchange(); }));
  for (auto* other : {tablet.get(), laptop.get()}) {
    // The tablet may have pulled the unconfirmed writes from the master before it died, and
    // hears the failover's write only once it follows the promoted replica.
    EXPECT_TRUE(eventually([&] { return other->text("during") == "the failover"; }));
    EXPECT_EQ(other->text("unconfirmed-2"), "v-unconfirmed-2");
    EXPECT_EQ(other->text("before"), "copied");
    EXPECT_EQ(other->text("unconfirmed-1"), "v-unconfirmed-1");
  }
}

}  // namespace
}  // namespace quorin::platform::posix
