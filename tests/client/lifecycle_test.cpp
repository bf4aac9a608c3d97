#include <gtest/gtest.h>

#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "client/quorin_client.hpp"
#include "quorin/quorin_client.hpp"
#include "support/in_memory_platform.hpp"

namespace quorin {
namespace {

using platform::Storefront;

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override { client->setup(); }

  QRNLifecycleCallback record(std::string tag) {
    return [this, tag] { log.push_back(tag); };
  }
  void postAll() {
    for (auto name :
         {platform::kWillEnterForegroundNotification, platform::kDidEnterBackgroundNotification,
          platform::kDidBecomeActiveNotification, platform::kWillResignActiveNotification})
      platform->postLifecycle(name);
  }

  std::shared_ptr<testing::InMemoryPlatform> platform =
      std::make_shared<testing::InMemoryPlatform>();
  std::shared_ptr<QuorinClient> client = std::make_shared<QuorinClient>(platform);
  std::vector<std::string> log;
};

TEST_F(LifecycleTest, EachNotificationReachesItsCallback) {
  postAll();  // nothing set yet: no call, no error
  client->setOnApplicationEnterForeground(record("foreground"));
  client->setOnApplicationEnterBackground(record("background"));
  client->setOnApplicationDidBecomeActive(record("active"));
  client->setOnApplicationWillResignActive(record("resign"));
  postAll();
  EXPECT_EQ(log, (std::vector<std::string>{"foreground", "background", "active", "resign"}));

  // Another sender's notification of the same name is not the application's.
  int other = 0;
  platform->notifications.post(
      {std::string(platform::kWillEnterForegroundNotification), &other, {}});
  EXPECT_EQ(log.size(), 4u);
}

TEST_F(LifecycleTest, ReplacingOrClearingACallbackTakesEffectAtTheNextNotification) {
  client->setOnApplicationEnterForeground(record("old"));
  platform->postLifecycle(platform::kWillEnterForegroundNotification);
  client->setOnApplicationEnterForeground(record("new"));
  platform->postLifecycle(platform::kWillEnterForegroundNotification);
  client->setOnApplicationEnterForeground(nullptr);
  platform->postLifecycle(platform::kWillEnterForegroundNotification);
  EXPECT_EQ(log, (std::vector<std::string>{"old", "new"}));
}

TEST_F(LifecycleTest, CallbackThatReplacesItselfFinishesSafely) {
  client->setOnApplicationDidBecomeActive([this, keep = std::make_shared<int>(7)] {
    client->setOnApplicationDidBecomeActive(record("replacement"));
    log.push_back("first saw " + std::to_string(*keep));
  });
  platform->postLifecycle(platform::kDidBecomeActiveNotification);
  platform->postLifecycle(platform::kDidBecomeActiveNotification);
  EXPECT_EQ(log, (std::vector<std::string>{"first saw 7", "replacement"}));
}

TEST_F(LifecycleTest, AfterDisposeNoEventArrivesAndTheLastStorefrontStays) {
  platform->payments.changeStorefront(Storefront{"DEU", "143443"});
  ASSERT_EQ(client->storeCountry(), "DEU");
  client->setOnApplicationEnterForeground(record("foreground"));
  client->setOnApplicationWillResignActive(record("resign"));
  client->dispose();
  EXPECT_FALSE(client->onApplicationEnterForeground());

  client->setOnApplicationEnterForeground(record("set after dispose"));
  postAll();
  platform->payments.changeStorefront(Storefront{"FRA", "143442"});
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(client->storeCountry(), "DEU");
  EXPECT_EQ(platform->notifications.observerCount(), 0u);
  EXPECT_EQ(platform->payments.observerCount(), 0u);
}

TEST_F(LifecycleTest, StorefrontChangeReportUpdatesStoreCountry) {
  EXPECT_EQ(client->storeCountry(), std::nullopt);
  platform->payments.changeStorefront(Storefront{"JPN", "143462"});
  EXPECT_EQ(client->storeCountry(), "JPN");
  platform->payments.changeStorefront(std::nullopt);
  EXPECT_EQ(client->storeCountry(), std::nullopt);
  platform->payments.reportUpdatedTransactions({{"t1", "gold"}});  // ignored
  EXPECT_EQ(client->storeCountry(), std::nullopt);
}

TEST_F(LifecycleTest, SecondSetupObservesAgain) {
  client->dispose();
  client->setup();
  client->setOnApplicationEnterBackground(record("background"));
  platform->postLifecycle(platform::kDidEnterBackgroundNotification);
  EXPECT_EQ(log, std::vector<std::string>{"background"});
}

// A payment queue whose storefront read blocks until the test opens it.
class GatedPaymentQueue final : public platform::PaymentQueue {
 public:
  void addTransactionObserver(std::weak_ptr<platform::PaymentTransactionObserver>) override {}
  void removeTransactionObserver(const platform::PaymentTransactionObserver*) override {}
  std::optional<Storefront> storefront() const override {
    gate.wait();
    return Storefront{"FRA", "143442"};
  }
  mutable std::latch gate{1};
};

// Hosts that never dispose: the facade's destructor, a C free, a second "init".
TEST(LifecycleRegistrationsTest, ClientsDroppedWithoutDisposeLeaveNoneBehind) {
  auto platform = std::make_shared<testing::InMemoryPlatform>();
  auto registrations = platform->notifications.observerCount();
  for (int i = 0; i < 2000; ++i) {
    QRNQuorinClient facade(platform);
    facade.storeCountry();  // lets the storefront refresh that setup queued finish
  }
  EXPECT_EQ(platform->notifications.observerCount(), registrations);

  QRNQuorinClient facade(platform);
  int calls = 0;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(facade.perform("init", {}).ok());
    facade.setOnApplicationDidBecomeActive([&] { ++calls; });
    facade.storeCountry();
  }
  platform->postLifecycle(platform::kDidBecomeActiveNotification);
  EXPECT_EQ(calls, 1) << "only the client in use hears it";
  EXPECT_EQ(platform->notifications.observerCount(), registrations + 5);
  EXPECT_EQ(platform->payments.observerCount(), 1u);
}

TEST(StorefrontRefreshTest, ReadersAfterSetupWaitForTheQueuedRefresh) {
  auto platform = std::make_shared<testing::InMemoryPlatform>();
  GatedPaymentQueue gated;
  platform->paymentQueueInUse = &gated;
  auto client = std::make_shared<QuorinClient>(platform);
  client->setup();

  constexpr int kReaders = 8;
  std::latch started(kReaders);
  std::mutex mutex;
  std::vector<std::optional<std::string>> answers;
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&] {
      started.count_down();
      auto country = client->storeCountry();
      std::lock_guard lock(mutex);
      answers.push_back(country);
    });
  }
  started.wait();
  gated.gate.count_down();
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(answers, std::vector<std::optional<std::string>>(kReaders, "FRA"));
}

}  // namespace
}  // namespace quorin
