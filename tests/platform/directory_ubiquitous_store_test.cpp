// Devices sharing a cloud account directory: in one process, across processes, at the quota
// limits and across an account switch.
#include "platform/posix/directory_ubiquitous_store.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "platform/posix/file_io.hpp"
#include "platform/posix/notification_center.hpp"
#include "platform/posix/plist_codec.hpp"
#include "support/temporary_directory.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;

struct Change {
  std::int64_t reason;
  std::vector<std::string> keys;
  friend bool operator==(const Change&, const Change&) = default;
};

void PrintTo(const Change& change, std::ostream* out) {
  *out << "reason " << change.reason << ":";
  for (const auto& key : change.keys) *out << " " << key;
}

Change change(UbiquitousChangeReason reason, std::vector<std::string> keys) {
  return {static_cast<std::int64_t>(reason), std::move(keys)};
}

// One device: a replica and the changes it reported, on whichever thread reported them.
class Device {
 public:
  Device(std::shared_ptr<CloudAccountSelection> account, LocalNotificationCenter& center)
      : center_(center), store(std::move(account), center) {
    center_.addObserver(this, std::string(kUbiquitousKeyValueStoreDidChangeExternallyNotification),
                        static_cast<const UbiquitousStore*>(&store),
                        [this](const Notification& notification) { record(notification); });
  }
  ~Device() {
    center_.removeObserver(this, kUbiquitousKeyValueStoreDidChangeExternallyNotification,
                           static_cast<const UbiquitousStore*>(&store));
  }

  std::vector<Change> takeChanges() {
    std::lock_guard lock(mutex_);
    return std::exchange(changes_, {});
  }
  // Waits for a change to arrive without a local call, as a watcher delivers it.
  bool waitForChange(std::chrono::seconds limit = 10s) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return !changes_.empty(); });
  }
  std::optional<std::string> text(std::string_view key) const {
    auto value = store.objectForKey(key);
    const auto* text = value ? value->get<std::string>() : nullptr;
    return text ? std::optional<std::string>(*text) : std::nullopt;
  }

 private:
  void record(const Notification& notification) {
    const auto& info = *notification.userInfo;
    Change change{*info.find(kUbiquitousKeyValueStoreChangeReasonKey)->second.get<std::int64_t>(),
                  {}};
    for (const auto& key : *info.find(kUbiquitousKeyValueStoreChangedKeysKey)->second.get<Array>())
      change.keys.push_back(*key.get<std::string>());
    std::lock_guard lock(mutex_);
    changes_.push_back(std::move(change));
    arrived_.notify_all();
  }

  LocalNotificationCenter& center_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Change> changes_;

 public:
  DirectoryUbiquitousStore store;
};

class DirectoryUbiquitousStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<Device> device() {
    return std::make_unique<Device>(account, center);
  }

  testing::TemporaryDirectory root;
  std::shared_ptr<CloudAccountSelection> account =
      std::make_shared<CloudAccountSelection>(root.path() / "account");
  LocalNotificationCenter center;
};

TEST_F(DirectoryUbiquitousStoreTest, WritesReachOtherDevicesAsServerChanges) {
  auto phone = device();
  auto tablet = device();
  ASSERT_TRUE(tablet->store.synchronize());  // its first pull: an empty account
  phone->store.setObject(Value("hello"), "greeting");
  phone->store.setObject(Value(std::int64_t{42}), "answer");
  phone->store.setObject(Value(Dictionary{{"nested", Value(Data{1, 2, 3})}}), "blob");
  EXPECT_EQ(phone->text("greeting"), "hello");  // the local copy answers before any sync
  ASSERT_TRUE(phone->store.synchronize());
  ASSERT_TRUE(tablet->store.synchronize());
  EXPECT_EQ(tablet->text("greeting"), "hello");
  EXPECT_EQ(tablet->store.objectForKey("answer"), Value(std::int64_t{42}));
  EXPECT_EQ(tablet->store.objectForKey("blob"),
            Value(Dictionary{{"nested", Value(Data{1, 2, 3})}}));
  // The watcher may have pulled some of it first; together the reports list every key once.
  std::vector<std::string> reported;
  for (const auto& seen : tablet->takeChanges()) {
    EXPECT_EQ(seen.reason, static_cast<std::int64_t>(UbiquitousChangeReason::serverChange));
    reported.insert(reported.end(), seen.keys.begin(), seen.keys.end());
  }
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"answer", "blob", "greeting"}));

  phone->store.setObject(Value("again"), "greeting");
  phone->store.removeObject("answer");
  ASSERT_TRUE(phone->store.synchronize());
  ASSERT_TRUE(tablet->store.synchronize());
  EXPECT_EQ(tablet->text("greeting"), "again");
  EXPECT_EQ(tablet->store.objectForKey("answer"), std::nullopt);
  // A device's own writes are never reported back to it.
  ASSERT_TRUE(phone->store.synchronize());
  EXPECT_TRUE(phone->takeChanges().empty());

  // A device that joins later reports what it finds as its first sync.
  auto laptop = device();
  ASSERT_TRUE(laptop->store.synchronize());
  auto first = laptop->takeChanges();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].reason, static_cast<std::int64_t>(UbiquitousChangeReason::initialSyncChange));
  std::sort(first[0].keys.begin(), first[0].keys.end());
  EXPECT_EQ(first[0].keys, (std::vector<std::string>{"blob", "greeting"}));
}

TEST_F(DirectoryUbiquitousStoreTest, TheLaterWriteWinsWhateverTheOrderOfSyncs) {
  auto early = device();
  auto late = device();
  early->store.setObject(Value("early"), "k");
  late->store.setObject(Value("late"), "k");
  ASSERT_TRUE(late->store.synchronize());
  ASSERT_TRUE(early->store.synchronize());
  EXPECT_EQ(early->text("k"), "late");
  auto changes = early->takeChanges();
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.back().keys, std::vector<std::string>{"k"});

  // A removal is a write like any other.
  early->store.removeObject("k");
  ASSERT_TRUE(early->store.synchronize());
  ASSERT_TRUE(late->store.synchronize());
  EXPECT_EQ(late->store.objectForKey("k"), std::nullopt);
}

TEST_F(DirectoryUbiquitousStoreTest, WritesOverQuotaAreRefusedAndReported) {
  auto phone = device();
  auto tablet = device();
  ASSERT_TRUE(phone->store.synchronize());
  phone->takeChanges();
  std::string longKey(kCloudMaxKeyBytes + 1, 'k');
  std::string widestKey(kCloudMaxKeyBytes, 'k');
  phone->store.setObject(Value("v"), longKey);
  phone->store.setObject(Value("v"), widestKey);
  ASSERT_TRUE(phone->store.synchronize());
  EXPECT_EQ(phone->takeChanges(),
            (std::vector<Change>{change(UbiquitousChangeReason::quotaViolationChange, {longKey})}));
  EXPECT_EQ(phone->store.objectForKey(longKey), std::nullopt) << "the refused write is undone";
  EXPECT_EQ(phone->text(widestKey), "v");

  // Bytes: a value that would pass 1 MB in total is refused; replacing one frees its room.
  std::string half(kCloudMaxTotalBytes / 2, 'x');
  phone->store.setObject(Value(half), "a");
  phone->store.setObject(Value(half), "b");
  ASSERT_TRUE(phone->store.synchronize());
  EXPECT_EQ(phone->takeChanges(),
            (std::vector<Change>{change(UbiquitousChangeReason::quotaViolationChange, {"b"})}));
  phone->store.setObject(Value(half + "y"), "a");
  ASSERT_TRUE(phone->store.synchronize());
  EXPECT_TRUE(phone->takeChanges().empty());
  phone->store.removeObject("a");
  ASSERT_TRUE(phone->store.synchronize());

  // Keys: 1024 in all, counted across devices.
  for (std::size_t i = 1; i < kCloudMaxKeys - 1; ++i)
    phone->store.setObject(Value("v"), "key" + std::to_string(i));
  ASSERT_TRUE(phone->store.synchronize());
  EXPECT_TRUE(phone->takeChanges().empty());
  tablet->store.setObject(Value("v"), "last");
  tablet->store.setObject(Value("v"), "one too many");
  ASSERT_TRUE(tablet->store.synchronize());
  auto refused = tablet->takeChanges();
  EXPECT_NE(std::find(refused.begin(), refused.end(),
                      change(UbiquitousChangeReason::quotaViolationChange, {"one too many"})),
            refused.end());
  EXPECT_EQ(tablet->text("last"), "v");
}

TEST_F(DirectoryUbiquitousStoreTest, TwoDevicesCannotTogetherPassTheKeyQuota) {
  auto seed = device();
  for (std::size_t i = 0; i < kCloudMaxKeys - 1; ++i)
    seed->store.setObject(Value("v"), "key" + std::to_string(i));
  ASSERT_TRUE(seed->store.synchronize());
  auto left = device();
  auto right = device();
  left->store.setObject(Value("v"), "left");
  right->store.setObject(Value("v"), "right");
  std::thread other([&] { right->store.synchronize(); });
  left->store.synchronize();
  other.join();
  auto refusals = [](Device& device) {
    int count = 0;
    for (const auto& seen : device.takeChanges())
      count += seen.reason == static_cast<std::int64_t>(UbiquitousChangeReason::quotaViolationChange);
    return count;
  };
  EXPECT_EQ(refusals(*left) + refusals(*right), 1);
  EXPECT_NE(left->text("left").has_value(), right->text("right").has_value());
}

TEST_F(DirectoryUbiquitousStoreTest, SwitchingTheAccountReportsEveryKeyThatDiffers) {
  auto phone = device();
  phone->store.setObject(Value("old"), "shared");
  phone->store.setObject(Value("old only"), "gone");
  ASSERT_TRUE(phone->store.synchronize());
  {
    auto elsewhere = std::make_unique<Device>(
        std::make_shared<CloudAccountSelection>(root.path() / "second"), center);
    elsewhere->store.setObject(Value("new"), "shared");
    elsewhere->store.setObject(Value("new only"), "fresh");
    ASSERT_TRUE(elsewhere->store.synchronize());
  }
  phone->takeChanges();
  account->switchTo(root.path() / "second");
  ASSERT_TRUE(phone->store.synchronize());
  auto changes = phone->takeChanges();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].reason, static_cast<std::int64_t>(UbiquitousChangeReason::accountChange));
  std::sort(changes[0].keys.begin(), changes[0].keys.end());
  EXPECT_EQ(changes[0].keys, (std::vector<std::string>{"fresh", "gone", "shared"}));
  EXPECT_EQ(phone->text("shared"), "new");
  EXPECT_EQ(phone->store.objectForKey("gone"), std::nullopt);
}

TEST_F(DirectoryUbiquitousStoreTest, AnUnusableAccountKeepsLocalWritesForLater) {
  makeDirectories(root.path() / "account", 0700);
  ASSERT_TRUE(writeFileAtomically(root.path() / "account" / "cloud.db",
                                  std::string(4096, '\x5a'), 0600));
  auto phone = device();
  phone->store.setObject(Value("kept"), "k");
  EXPECT_FALSE(phone->store.synchronize());
  auto problem = phone->store.problem();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("cloud.db"), std::string::npos) << *problem;
  EXPECT_EQ(phone->text("k"), "kept");

  std::filesystem::remove(root.path() / "account" / "cloud.db");
  ASSERT_TRUE(phone->store.synchronize());
  auto tablet = device();
  ASSERT_TRUE(tablet->store.synchronize());
  EXPECT_EQ(tablet->text("k"), "kept");
}

TEST_F(DirectoryUbiquitousStoreTest, AnotherProcesssWriteIsNoticedWithoutALocalCall) {
  auto phone = device();
  ASSERT_TRUE(phone->store.synchronize());
  phone->takeChanges();
  // The other process starts afresh (a forked copy of this one could inherit held locks) and
  // runs this test up to the statement below; it learns this run's account from the
  // environment, which it must not overwrite with its own.
  ::setenv("QRN_TEST_CLOUD_ACCOUNT", (root.path() / "account").c_str(), 0);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CloudAccountDatabase other(std::getenv("QRN_TEST_CLOUD_ACCOUNT"));
        std::vector<CloudWriteOutcome> outcomes;
        bool pushed = other.push(
            {{"k", serializePlist(Value("from the other process"), PlistFormat::binary), 1}},
            "other", outcomes);
        std::filesystem::remove_all(root.path());  // its own run's, which exit() leaves
        std::exit(pushed && outcomes == std::vector{CloudWriteOutcome::applied} ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  ::unsetenv("QRN_TEST_CLOUD_ACCOUNT");
  ASSERT_TRUE(phone->waitForChange());
  EXPECT_EQ(phone->takeChanges(),
            (std::vector<Change>{change(UbiquitousChangeReason::serverChange, {"k"})}));
  EXPECT_EQ(phone->text("k"), "from the other process");
}

}  // namespace
}  // namespace quorin::platform::posix
