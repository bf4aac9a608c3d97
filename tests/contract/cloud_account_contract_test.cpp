// Devices sharing a cloud account, held to one contract whatever keeps the account: in one
// process, across processes, at the quota limits and across an account switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "formats/plist_codec.hpp"
#include "platform/linux/cloud_account_location.hpp"
#include "platform/posix/files/file_io.hpp"
#include "support/cloud_device.hpp"
#include "support/hostile_plists.hpp"
#include "support/redis_cluster.hpp"
#include "support/redis_server.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;
using Change = testing::CloudChange;
using Device = testing::CloudDevice;

Change change(UbiquitousChangeReason reason, std::vector<std::string> keys) {
  return testing::cloudChange(reason, std::move(keys));
}

enum class Backend { directory, redis, cluster };

class CloudAccountContractTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::redis) {
      socket_ = testing::sharedRedisSocket();
      if (!socket_) {
        if (std::getenv("QRN_REQUIRE_REDIS")) FAIL() << "no Redis server for the contract";
        GTEST_SKIP() << "no redis-server on this machine";
      }
      // A process this test starts again finds the same server.
      ::setenv("QRN_REDIS_SOCKET", socket_->c_str(), 0);
    }
    if (GetParam() == Backend::cluster) {
      auto nodes = testing::sharedRedisCluster();
      if (!nodes) {
        if (std::getenv("QRN_REQUIRE_CLUSTER")) FAIL() << "no Redis Cluster for the contract";
        GTEST_SKIP() << "no Redis Cluster";
      }
      // Through a node that may not serve the account, with the others to fall back on.
      seeds_ = nodes->back() + "/0?";
      for (const auto& node : *nodes) seeds_ += "node=" + node + "&";
      std::string listed;
      for (const auto& node : *nodes) listed += (listed.empty() ? "" : ",") + node;
      ::setenv("QRN_REDIS_CLUSTER", listed.c_str(), 0);
    }
    account =
        std::make_shared<CloudAccountSelection>(location("account"), linux::cloudAccountKinds());
  }

  std::string location(const std::string& name) const {
    if (GetParam() == Backend::directory) return (root.path() / name).string();
    if (GetParam() == Backend::cluster) return "redis://" + seeds_ + "account=" + prefix_ + name;
    return "unix://" + socket_->string() + "?account=" + prefix_ + name;
  }

  // Devices exchange when the test asks, except where a test is about hearing writes unasked.
  std::unique_ptr<Device> device(Device::Sync sync = Device::Sync::whenAsked) {
    return deviceOn(account, sync);
  }
  std::unique_ptr<Device> deviceOn(std::shared_ptr<CloudAccountSelection> selection,
                                   Device::Sync sync = Device::Sync::whenAsked) {
    return std::make_unique<Device>(std::move(selection),
                                    root.path() / "devices" / std::to_string(devices_++), center,
                                    sync);
  }

  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  std::shared_ptr<CloudAccountSelection> account;

 private:
  std::optional<std::filesystem::path> socket_;
  std::string seeds_;
  std::string prefix_ = testing::freshAccountName("contract") + "-";
  int devices_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Backends, CloudAccountContractTest,
                         ::testing::Values(Backend::directory, Backend::redis, Backend::cluster),
                         [](const auto& param) {
                           return param.param == Backend::directory ? "Directory"
                                  : param.param == Backend::redis   ? "Redis"
                                                                    : "RedisCluster";
                         });

TEST_P(CloudAccountContractTest, WritesReachOtherDevicesAsServerChanges) {
  auto phone = device();
  auto tablet = device();
  ASSERT_TRUE(tablet->store.exchange());  // its first pull: an empty account
  phone->store.setObject(formats::Value("hello"), "greeting");
  phone->store.setObject(formats::Value(std::int64_t{42}), "answer");
  phone->store.setObject(
      formats::Value(formats::Dictionary{{"nested", formats::Value(formats::Data{1, 2, 3})}}),
      "blob");
  EXPECT_EQ(phone->text("greeting"), "hello");  // the local copy answers before any sync
  ASSERT_TRUE(phone->store.exchange());
  ASSERT_TRUE(tablet->store.exchange());
  EXPECT_EQ(tablet->text("greeting"), "hello");
  EXPECT_EQ(tablet->store.objectForKey("answer"), formats::Value(std::int64_t{42}));
  EXPECT_EQ(
      tablet->store.objectForKey("blob"),
      formats::Value(formats::Dictionary{{"nested", formats::Value(formats::Data{1, 2, 3})}}));
  // Each exchange reports what it pulled; together the reports list every key once.
  std::vector<std::string> reported;
  for (const auto& seen : tablet->takeChanges()) {
    EXPECT_EQ(seen.reason, static_cast<std::int64_t>(UbiquitousChangeReason::serverChange));
    reported.insert(reported.end(), seen.keys.begin(), seen.keys.end());
  }
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"answer", "blob", "greeting"}));

  phone->store.setObject(formats::Value("again"), "greeting");
  phone->store.removeObject("answer");
  ASSERT_TRUE(phone->store.exchange());
  ASSERT_TRUE(tablet->store.exchange());
  EXPECT_EQ(tablet->text("greeting"), "again");
  EXPECT_EQ(tablet->store.objectForKey("answer"), std::nullopt);
  // A device's own writes are never reported back to it.
  ASSERT_TRUE(phone->store.exchange());
  EXPECT_TRUE(phone->takeChanges().empty());

  // A device that joins later reports what it finds as its first sync.
  auto laptop = device();
  ASSERT_TRUE(laptop->store.exchange());
  auto first = laptop->takeChanges();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].reason, static_cast<std::int64_t>(UbiquitousChangeReason::initialSyncChange));
  std::sort(first[0].keys.begin(), first[0].keys.end());
  EXPECT_EQ(first[0].keys, (std::vector<std::string>{"blob", "greeting"}));
}

// A caller never waits on the account: synchronize() leaves the exchange to the store's
// thread, which still pushes a write asked for just before the store closes.
TEST_P(CloudAccountContractTest, SynchronizeExchangesInTheBackgroundEvenAsTheStoreCloses) {
  auto tablet = device(Device::Sync::watching);
  ASSERT_TRUE(tablet->store.exchange());
  tablet->takeChanges();
  {
    auto phone = device();
    phone->store.setObject(formats::Value("pushed as it closed"), "k");
    EXPECT_TRUE(phone->store.synchronize());
  }
  ASSERT_TRUE(tablet->waitForChange());
  EXPECT_EQ(tablet->text("k"), "pushed as it closed");
}

TEST_P(CloudAccountContractTest, TheLaterWriteWinsWhateverTheOrderOfSyncs) {
  auto early = device();
  auto late = device();
  early->store.setObject(formats::Value("early"), "k");
  late->store.setObject(formats::Value("late"), "k");
  ASSERT_TRUE(late->store.exchange());
  ASSERT_TRUE(early->store.exchange());
  EXPECT_EQ(early->text("k"), "late");
  auto changes = early->takeChanges();
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.back().keys, std::vector<std::string>{"k"});

  // A removal is a write like any other.
  early->store.removeObject("k");
  ASSERT_TRUE(early->store.exchange());
  ASSERT_TRUE(late->store.exchange());
  EXPECT_EQ(late->store.objectForKey("k"), std::nullopt);
}

TEST_P(CloudAccountContractTest, WritesOverQuotaAreRefusedAndReported) {
  auto phone = device();
  auto tablet = device();
  ASSERT_TRUE(phone->store.exchange());
  phone->takeChanges();
  std::string longKey(kCloudMaxKeyBytes + 1, 'k');
  std::string widestKey(kCloudMaxKeyBytes, 'k');
  phone->store.setObject(formats::Value("v"), longKey);
  phone->store.setObject(formats::Value("v"), widestKey);
  ASSERT_TRUE(phone->store.exchange());
  EXPECT_EQ(phone->takeChanges(),
            (std::vector<Change>{change(UbiquitousChangeReason::quotaViolationChange, {longKey})}));
  EXPECT_EQ(phone->store.objectForKey(longKey), std::nullopt) << "the refused write is undone";
  EXPECT_EQ(phone->text(widestKey), "v");

  // Bytes: a value that would pass 1 MB in total is refused; replacing one frees its room.
  std::string half(kCloudMaxTotalBytes / 2, 'x');
  phone->store.setObject(formats::Value(half), "a");
  phone->store.setObject(formats::Value(half), "b");
  ASSERT_TRUE(phone->store.exchange());
  EXPECT_EQ(phone->takeChanges(),
            (std::vector<Change>{change(UbiquitousChangeReason::quotaViolationChange, {"b"})}));
  phone->store.setObject(formats::Value(half + "y"), "a");
  ASSERT_TRUE(phone->store.exchange());
  EXPECT_TRUE(phone->takeChanges().empty());
  phone->store.removeObject("a");
  ASSERT_TRUE(phone->store.exchange());

  // Keys: 1024 in all, counted across devices.
  for (std::size_t i = 1; i < kCloudMaxKeys - 1; ++i)
    phone->store.setObject(formats::Value("v"), "key" + std::to_string(i));
  ASSERT_TRUE(phone->store.exchange());
  EXPECT_TRUE(phone->takeChanges().empty());
  tablet->store.setObject(formats::Value("v"), "last");
  tablet->store.setObject(formats::Value("v"), "one too many");
  ASSERT_TRUE(tablet->store.exchange());
  auto refused = tablet->takeChanges();
  EXPECT_NE(std::find(refused.begin(), refused.end(),
                      change(UbiquitousChangeReason::quotaViolationChange, {"one too many"})),
            refused.end());
  EXPECT_EQ(tablet->text("last"), "v");
}

TEST_P(CloudAccountContractTest, TwoDevicesCannotTogetherPassTheKeyQuota) {
  auto seed = device();
  for (std::size_t i = 0; i < kCloudMaxKeys - 1; ++i)
    seed->store.setObject(formats::Value("v"), "key" + std::to_string(i));
  ASSERT_TRUE(seed->store.exchange());
  auto left = device();
  auto right = device();
  left->store.setObject(formats::Value("v"), "left");
  right->store.setObject(formats::Value("v"), "right");
  std::thread other([&] { right->store.exchange(); });
  left->store.exchange();
  other.join();
  auto refusals = [](Device& device) {
    int count = 0;
    for (const auto& seen : device.takeChanges())
      count +=
          seen.reason == static_cast<std::int64_t>(UbiquitousChangeReason::quotaViolationChange);
    return count;
  };
  EXPECT_EQ(refusals(*left) + refusals(*right), 1);
  EXPECT_NE(left->text("left").has_value(), right->text("right").has_value());
}

TEST_P(CloudAccountContractTest, SwitchingTheAccountReportsEveryKeyThatDiffers) {
  auto phone = device();
  phone->store.setObject(formats::Value("old"), "shared");
  phone->store.setObject(formats::Value("old only"), "gone");
  ASSERT_TRUE(phone->store.exchange());
  {
    auto elsewhere = deviceOn(
        std::make_shared<CloudAccountSelection>(location("second"), linux::cloudAccountKinds()));
    elsewhere->store.setObject(formats::Value("new"), "shared");
    elsewhere->store.setObject(formats::Value("new only"), "fresh");
    ASSERT_TRUE(elsewhere->store.exchange());
  }
  phone->takeChanges();
  account->switchTo(location("second"));
  ASSERT_TRUE(phone->store.exchange());
  ASSERT_TRUE(phone->waitForChange());  // a switch also starts the store's own exchange
  auto changes = phone->takeChanges();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].reason, static_cast<std::int64_t>(UbiquitousChangeReason::accountChange));
  std::sort(changes[0].keys.begin(), changes[0].keys.end());
  EXPECT_EQ(changes[0].keys, (std::vector<std::string>{"fresh", "gone", "shared"}));
  EXPECT_EQ(phone->text("shared"), "new");
  EXPECT_EQ(phone->store.objectForKey("gone"), std::nullopt);
}

TEST_P(CloudAccountContractTest, AnotherProcesssWriteIsNoticedWithoutALocalCall) {
  auto phone = device(Device::Sync::watching);
  ASSERT_TRUE(phone->store.exchange());
  phone->takeChanges();
  // The other process starts afresh (a forked copy of this one could inherit held locks) and
  // runs this test up to the statement below; it learns this run's account from the
  // environment, which it must not overwrite with its own.
  ::setenv("QRN_TEST_CLOUD_ACCOUNT", location("account").c_str(), 0);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto other = linux::openCloudAccount(std::getenv("QRN_TEST_CLOUD_ACCOUNT"));
        std::vector<CloudWriteOutcome> outcomes;
        bool pushed =
            other->push({{"k",
                          formats::serializePlist(formats::Value("from the other process"),
                                                  formats::PlistFormat::binary),
                          1}},
                        "other", outcomes);
        std::error_code ignored;  // its own run's, which exit() leaves
        std::filesystem::remove_all(root.path(), ignored);
        std::exit(pushed && outcomes == std::vector{CloudWriteOutcome::applied} ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  ::unsetenv("QRN_TEST_CLOUD_ACCOUNT");
  ASSERT_TRUE(phone->waitForChange());
  EXPECT_EQ(phone->takeChanges(),
            (std::vector<Change>{change(UbiquitousChangeReason::serverChange, {"k"})}));
  EXPECT_EQ(phone->text("k"), "from the other process");
}

std::vector<CloudWrite> hostileWrites() {
  return {
      {"deep", testing::deepBinaryPlist(100'000), 1},
      {"bomb", testing::sharedReferenceBomb(40), 1},
      {"cycle", testing::cyclicBinaryPlist(), 1},
      {"fine", formats::serializePlist(formats::Value("still here"), formats::PlistFormat::binary),
       1},
  };
}

// Another device, or anyone who can write the account, may store bytes that would crash a
// recursive plist reader: they read as absent, on the next pull and from the journal.
TEST_P(CloudAccountContractTest, AHostileValueReadsAsAbsentAndTheRestStillReads) {
  auto journals = root.path() / "phone";
  auto phone = std::make_unique<Device>(account, journals, center);
  ASSERT_TRUE(phone->store.exchange());
  ::setenv("QRN_TEST_CLOUD_ACCOUNT", location("account").c_str(), 0);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto other = linux::openCloudAccount(std::getenv("QRN_TEST_CLOUD_ACCOUNT"));
        auto writes = hostileWrites();
        std::vector<CloudWriteOutcome> outcomes;
        bool pushed = other->push(writes, "other", outcomes);
        std::error_code ignored;  // its own run's, which exit() leaves
        std::filesystem::remove_all(root.path(), ignored);
        std::exit(pushed && outcomes == std::vector(4, CloudWriteOutcome::applied) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  ::unsetenv("QRN_TEST_CLOUD_ACCOUNT");
  auto expectOnlyTheFineValue = [&](const char* when) {
    EXPECT_EQ(phone->text("fine"), "still here") << when;
    for (auto key : {"deep", "bomb", "cycle"})
      EXPECT_EQ(phone->store.objectForKey(key), std::nullopt) << key << " " << when;
  };
  ASSERT_TRUE(phone->store.exchange());
  expectOnlyTheFineValue("pulled");
  phone.reset();
  phone = std::make_unique<Device>(account, journals, center);
  expectOnlyTheFineValue("from the journal");
}

// What changed is posted once the exchange has let go of the store, so that an observer run
// on the exchanging thread may ask for the status. Bounded as a hang check: a deadlocked
// exchange would never answer.
TEST_P(CloudAccountContractTest, AnObserverOnTheExchangingThreadMayAskForTheStatus) {
  auto phone = device();
  auto tablet = device();
  std::promise<std::size_t> answered;
  std::once_flag once;
  center.addObserver(&answered,
                     std::string(kUbiquitousKeyValueStoreDidChangeExternallyNotification),
                     static_cast<const UbiquitousStore*>(&tablet->store), [&](const auto&) {
                       auto pending = tablet->store.status().pendingWrites;
                       std::call_once(once, [&] { answered.set_value(pending); });
                     });
  phone->store.setObject(formats::Value("hello"), "greeting");
  ASSERT_TRUE(phone->store.exchange());
  tablet->store.synchronize();
  auto answer = answered.get_future();
  if (answer.wait_for(60s) != std::future_status::ready) {
    std::cerr << "the exchange deadlocked on its own observer\n";
    std::abort();
  }
  EXPECT_EQ(answer.get(), 0u);
  center.removeObserver(&answered, kUbiquitousKeyValueStoreDidChangeExternallyNotification,
                        static_cast<const UbiquitousStore*>(&tablet->store));
}

// The files of a directory with their sizes and modification times; not SQLite's shared
// memory, which readers write.
std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>> filesIn(
    const std::filesystem::path& directory) {
  std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().string().ends_with("-shm")) continue;
    files[entry.path()] = {entry.file_size(), entry.last_write_time()};
  }
  return files;
}

TEST(DirectoryCloudAccountTest, AnExchangeThatFindsNothingWritesNothing) {
  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  auto account = std::make_shared<CloudAccountSelection>((root.path() / "account").string(),
                                                         linux::cloudAccountKinds());
  auto phone = std::make_unique<Device>(account, root.path() / "phone", center);
  phone->store.setObject(formats::Value("kept"), "k");
  ASSERT_TRUE(phone->store.exchange());
  phone = std::make_unique<Device>(account, root.path() / "phone", center);
  ASSERT_TRUE(phone->store.exchange());
  auto journals = filesIn(root.path() / "phone");
  auto shared = filesIn(root.path() / "account");
  ASSERT_TRUE(phone->store.exchange());
  EXPECT_EQ(filesIn(root.path() / "phone"), journals);
  EXPECT_EQ(filesIn(root.path() / "account"), shared);
}

// The name that stamps the device's writes is kept, or the device makes none: a name made up
// for one run would meet its own earlier writes as a rival's.
TEST(DirectoryCloudAccountTest, ADeviceWhoseNameCannotBeKeptWritesNothing) {
  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  auto account = std::make_shared<CloudAccountSelection>((root.path() / "account").string(),
                                                         linux::cloudAccountKinds());
  std::filesystem::create_directories(root.path() / "phone" / "device");
  Device phone(account, root.path() / "phone", center);
  EXPECT_FALSE(phone.store.write("k", formats::Value("lost")));
  EXPECT_EQ(phone.store.objectForKey("k"), std::nullopt);
  EXPECT_FALSE(phone.store.exchange());
  auto problem = phone.store.status().journalProblem;
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("cannot keep this device's name"), std::string::npos) << *problem;
}

TEST(DirectoryCloudAccountTest, ADamagedDeviceNameIsMadeAgainOnceAndKept) {
  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  auto account = std::make_shared<CloudAccountSelection>((root.path() / "account").string(),
                                                         linux::cloudAccountKinds());
  auto name = root.path() / "phone" / "device";
  std::filesystem::create_directories(name.parent_path());
  ASSERT_TRUE(writeFileAtomically(name, "cut sh", 0600));
  auto first = std::make_unique<Device>(account, root.path() / "phone", center);
  EXPECT_TRUE(first->store.write("k", formats::Value("kept")));
  auto kept = readFile(name);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->size(), 36u);
  first.reset();
  Device again(account, root.path() / "phone", center);
  EXPECT_EQ(readFile(name), kept);
}

TEST(DirectoryCloudAccountTest, AnUnusableAccountKeepsLocalWritesForLater) {
  testing::TemporaryDirectory root;
  common::LocalNotificationCenter center;
  auto account = std::make_shared<CloudAccountSelection>((root.path() / "account").string(),
                                                         linux::cloudAccountKinds());
  auto device = [&, devices = 0]() mutable {
    return std::make_unique<Device>(account, root.path() / std::to_string(devices++), center);
  };
  makeDirectories(root.path() / "account", 0700);
  ASSERT_TRUE(
      writeFileAtomically(root.path() / "account" / "cloud.db", std::string(4096, '\x5a'), 0600));
  auto phone = device();
  phone->store.setObject(formats::Value("kept"), "k");
  EXPECT_FALSE(phone->store.exchange());
  auto problem = phone->store.status().account.problem;
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("cloud.db"), std::string::npos) << *problem;
  EXPECT_EQ(phone->text("k"), "kept");

  std::filesystem::remove(root.path() / "account" / "cloud.db");
  ASSERT_TRUE(phone->store.exchange());
  auto tablet = device();
  ASSERT_TRUE(tablet->store.exchange());
  EXPECT_EQ(tablet->text("k"), "kept");
}

}  // namespace
}  // namespace quorin::platform::posix
