// A Redis cloud account under faults: its server killed and restarted, a device killed
// with writes in flight, a wrong password, and devices racing for the last key.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "formats/plist_codec.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "platform/posix/cloud/cloud_journal.hpp"
#include "platform/redis/redis_cloud_account.hpp"
#include "platform/redis/redis_connection.hpp"
#include "platform/redis/redis_url.hpp"
#include "support/cloud_device.hpp"
#include "support/eventually.hpp"
#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;
using redis::RedisCloudAccount;
using testing::eventually;

// Every value the account holds, decoded.
std::map<std::string, formats::Value> serverValues(const std::string& url) {
  RedisCloudAccount account(url);
  std::vector<CloudRow> rows;
  std::map<std::string, formats::Value> values;
  if (!account.changesSince(0, rows)) return values;
  for (const auto& row : rows) {
    if (row.encoded) values.insert_or_assign(row.key, *formats::parsePlist(*row.encoded));
  }
  return values;
}

std::map<std::string, formats::Value> deviceValues(
    const testing::CloudDevice& device, const std::map<std::string, formats::Value>& expected) {
  std::map<std::string, formats::Value> values;
  for (const auto& [key, value] : expected) {
    if (auto held = device.store.objectForKey(key)) values.insert_or_assign(key, *held);
  }
  return values;
}

class RedisCloudFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server.start()) {
      if (std::getenv("QRN_REQUIRE_REDIS")) FAIL() << "redis-server would not start";
      GTEST_SKIP() << "no redis-server on this machine";
    }
  }

  std::unique_ptr<testing::CloudDevice> device(const std::string& name) {
    return std::make_unique<testing::CloudDevice>(account, root.path() / name, center);
  }

  // Converged: nothing waits to be pushed, and a last exchange has pulled the rest.
  static bool settled(testing::CloudDevice& device) {
    return device.store.exchange() && device.store.status().pendingWrites == 0;
  }

  testing::TemporaryDirectory root;
  testing::RedisServer server{root.path()};
  std::string url = server.url("faults");
  std::shared_ptr<CloudAccountSelection> account =
      std::make_shared<CloudAccountSelection>(url, linux::cloudAccountKinds());
  common::LocalNotificationCenter center;
};

TEST_F(RedisCloudFaultsTest, AServerKilledWhileTwoDevicesWriteLosesNothing) {
  constexpr int kWrites = 150;
  auto phone = device("phone");
  auto tablet = device("tablet");
  std::atomic<int> written{0};
  auto writer = [&](testing::CloudDevice& device, const std::string& name) {
    for (int i = 0; i < kWrites; ++i) {
      device.store.setObject(formats::Value(std::int64_t{i}), name + "-" + std::to_string(i));
      device.store.setObject(formats::Value(name + " " + std::to_string(i)), "shared");
      device.store.exchange();  // fails while the server is down; the journal keeps the rest
      ++written;
    }
  };
  std::thread phoneWrites(writer, std::ref(*phone), "phone");
  std::thread tabletWrites(writer, std::ref(*tablet), "tablet");
  ASSERT_TRUE(eventually([&] { return written >= kWrites / 2; }));
  server.kill();
  auto killedAt = written.load();
  EXPECT_TRUE(eventually([&] { return written >= killedAt + 40; })) << "writes go on offline";
  ASSERT_TRUE(server.start());
  phoneWrites.join();
  tabletWrites.join();

  ASSERT_TRUE(eventually([&] { return settled(*phone) && settled(*tablet); }));
  ASSERT_TRUE(phone->store.exchange());
  std::map<std::string, formats::Value> expected;
  for (int i = 0; i < kWrites; ++i) {
    for (const std::string name : {"phone", "tablet"})
      expected.insert_or_assign(name + "-" + std::to_string(i), formats::Value(std::int64_t{i}));
  }
  auto held = serverValues(url);
  ASSERT_TRUE(held.contains("shared"));
  expected.insert_or_assign("shared", held.at("shared"));
  EXPECT_EQ(held, expected);
  EXPECT_EQ(deviceValues(*phone, expected), expected);
  EXPECT_EQ(deviceValues(*tablet, expected), expected);
}

TEST_F(RedisCloudFaultsTest, ADeviceKilledWithWritesInFlightReplaysItsJournal) {
  auto writeThenDie = [&](int first, int last) {
    auto phone = device("phone");
    for (int i = first; i < last; ++i) {
      phone->store.setObject(formats::Value(std::int64_t{i}), "k" + std::to_string(i));
      if (i % 2) phone->store.exchange();
    }
    ::raise(SIGKILL);
  };
  // A forked copy of a process with threads could inherit held locks, and the thread
  // sanitizer refuses it; ctest runs each test in a process of its own, without any.
  if (std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) != 1)
    GTEST_SKIP() << "needs a process of its own, without threads, as ctest runs it";
  auto style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(writeThenDie(0, 40), ::testing::KilledBySignal(SIGKILL), "");
  server.kill();
  EXPECT_EXIT(writeThenDie(40, 50), ::testing::KilledBySignal(SIGKILL), "");

  GTEST_FLAG_SET(death_test_style, style);

  // Every write the device took is on the server or in its journal.
  ASSERT_TRUE(server.start());
  auto held = serverValues(url);
  std::size_t journaled = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root.path() / "phone")) {
    if (entry.path().extension() != ".db") continue;
    CloudJournal journal(entry.path());
    CloudJournal::Contents kept;
    ASSERT_TRUE(journal.load(kept));
    for (const auto& write : kept.pending) held.insert_or_assign(write.key, formats::Value());
    journaled += kept.pending.size();
  }
  EXPECT_GE(journaled, 10u) << "the writes made offline wait in the journal";
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(held.contains("k" + std::to_string(i))) << i;

  auto restarted = device("phone");
  ASSERT_TRUE(eventually([&] { return settled(*restarted); }));
  auto reader = device("reader");
  ASSERT_TRUE(reader->store.exchange());
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(reader->store.objectForKey("k" + std::to_string(i)), formats::Value(std::int64_t{i}))
        << i;
}

TEST_F(RedisCloudFaultsTest, AWrongPasswordIsAClearErrorNotACrash) {
  testing::TemporaryDirectory guarded;
  testing::RedisServer locked(guarded.path(), "the right one");
  ASSERT_TRUE(locked.start());
  for (const auto& credentials : {std::string(":not the right one@"), std::string()}) {
    auto wrong = locked.url("faults", credentials);
    auto problem = RedisCloudAccount(wrong).probe();
    ASSERT_TRUE(problem.has_value()) << credentials;
    EXPECT_NE(problem->find(locked.socket().string()), std::string::npos) << *problem;
    EXPECT_EQ(problem->find("not the right one"), std::string::npos) << *problem;

    auto selection = std::make_shared<CloudAccountSelection>(wrong, linux::cloudAccountKinds());
    testing::CloudDevice phone(selection, guarded.path() / "phone", center);
    phone.store.setObject(formats::Value("kept"), "k");
    EXPECT_FALSE(phone.store.exchange());
    EXPECT_FALSE(phone.store.synchronize()) << "known to be unusable";
    EXPECT_TRUE(phone.store.status().account.problem.has_value());
    EXPECT_EQ(phone.text("k"), "kept");
  }
  RedisCloudAccount right(locked.url("faults", ":the right one@"));
  EXPECT_EQ(right.probe(), std::nullopt);
}

// Pub/sub drops what is published while a device is away, so every reconnect must prompt
// the device to pull.
TEST_F(RedisCloudFaultsTest, EveryReconnectOfTheSubscriptionPromptsAPull) {
  RedisCloudAccount watched(url);
  std::atomic<int> prompts{0};
  watched.watch([&] { ++prompts; });
  ASSERT_TRUE(eventually([&] { return prompts >= 1; })) << "the first connect";
  auto admin = testing::administer(server.socket());
  ASSERT_TRUE(admin);
  auto before = prompts.load();
  ASSERT_TRUE(admin->command({"CLIENT", "KILL", "TYPE", "pubsub"}));
  EXPECT_TRUE(eventually([&] { return prompts > before; }));
  EXPECT_TRUE(watched.status().connected);
}

// The restarted server is another server: the device must pull from it on a connection of
// its own, and keep trying until it can, though no write of its own asks it to. The phone
// reaches the server through a link that is restored only after the other device's write,
// so that the write is published while the phone cannot hear it.
TEST_F(RedisCloudFaultsTest, AWriteMissedWhileTheServerWasAwayArrivesOnceItIsBack) {
  auto link = root.path() / "link.sock";
  std::filesystem::create_symlink(server.socket(), link);
  auto viaLink = std::make_shared<CloudAccountSelection>(
      "unix://" + link.string() + "?account=faults", linux::cloudAccountKinds());
  testing::CloudDevice phone(viaLink, root.path() / "phone", center);
  auto write = [&](const std::string& key, const std::string& text) {
    RedisCloudAccount tablet(url);
    std::vector<CloudWriteOutcome> outcomes;
    return tablet.push(
               {{key, formats::serializePlist(formats::Value(text), formats::PlistFormat::binary),
                 tablet.now()}},
               "tablet", outcomes) &&
           outcomes == std::vector{CloudWriteOutcome::applied};
  };
  // Settled before the outage: it hears of writes, and has no exchange left to run.
  ASSERT_TRUE(write("before", "heard"));
  ASSERT_TRUE(phone.waitForChange(20s));
  ASSERT_TRUE(phone.store.exchange());
  phone.takeChanges();

  server.kill();
  std::filesystem::remove(link);
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(write("k", "written while away"));
  std::filesystem::create_symlink(server.socket(), link);

  ASSERT_TRUE(phone.waitForChange(20s)) << "the write never arrived";
  EXPECT_EQ(phone.takeChanges(), (std::vector<testing::CloudChange>{testing::cloudChange(
                                     UbiquitousChangeReason::serverChange, {"k"})}));
  EXPECT_EQ(phone.text("k"), "written while away");
}

TEST(RedisCloudJournalTest, AChangedPasswordFindsTheWritesKeptForTheAccount) {
  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  auto on = [&](const std::string& password) {
    auto url = "unix://:" + password + "@" + (root.path() / "no-server").string() + "?account=a";
    return std::make_unique<testing::CloudDevice>(
        std::make_shared<CloudAccountSelection>(url, linux::cloudAccountKinds()),
        root.path() / "phone", center);
  };
  on("old password")->store.setObject(formats::Value("kept"), "k");
  auto renewed = on("new password");
  EXPECT_EQ(renewed->text("k"), "kept");
  EXPECT_EQ(renewed->store.status().pendingWrites, 1u);
}

// Two processes, each with one key to add to an account one key short of its limit.
TEST_F(RedisCloudFaultsTest, TwoProcessesRacingForTheLastKeyGetExactlyOne) {
  RedisCloudAccount seed(url);
  std::vector<CloudWrite> writes;
  for (std::size_t i = 0; i < kCloudMaxKeys - 1; ++i)
    writes.push_back({"seed" + std::to_string(i),
                      formats::serializePlist(formats::Value("v"), formats::PlistFormat::binary),
                      seed.now()});
  std::vector<CloudWriteOutcome> outcomes;
  ASSERT_TRUE(seed.push(writes, "seed", outcomes));

  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<pid_t> racers;
  for (const std::string name : {"left", "right"}) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(start[1]);
      RedisCloudAccount own(url);
      own.probe();  // connected before the start
      char go;
      [[maybe_unused]] auto got = ::read(start[0], &go, 1);
      std::vector<CloudWriteOutcome> result;
      bool pushed = own.push(
          {{name, formats::serializePlist(formats::Value("v"), formats::PlistFormat::binary),
            own.now()}},
          name, result);
      ::_exit(!pushed ? 9 : result[0] == CloudWriteOutcome::applied ? 0 : 1);
    }
    racers.push_back(pid);
  }
  ::close(start[0]);
  ::close(start[1]);  // both read end-of-file at once
  int applied = 0, refused = 0;
  for (pid_t pid : racers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    applied += WEXITSTATUS(status) == 0;
    refused += WEXITSTATUS(status) == 1;
  }
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(serverValues(url).size(), kCloudMaxKeys);
}

}  // namespace
}  // namespace quorin::platform::posix
