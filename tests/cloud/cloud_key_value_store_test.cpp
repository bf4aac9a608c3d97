#include "cloud/cloud_key_value_store.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "support/in_memory_platform_fixture.hpp"

namespace quorin {
namespace {

using namespace std::chrono_literals;
using formats::Value;
using platform::UbiquitousChangeReason;

struct Answer {
  std::string read;
  std::optional<std::string> value;
  friend bool operator==(const Answer&, const Answer&) = default;
};

void PrintTo(const Answer& answer, std::ostream* out) {
  *out << answer.read << "=" << answer.value.value_or("<absent>");
}

class CloudKeyValueStoreTest : public testing::InMemoryPlatformTest {
 protected:
  cloud::CloudKeyValueStore::Completion record(std::string read) {
    return [this, read](const std::optional<std::string>& value) {
      answers.push_back({read, value});
    };
  }
  void deliver() { platform->mainLoop().drainPending(); }

  std::shared_ptr<cloud::CloudKeyValueStore> store = cloud::CloudKeyValueStore::make(*platform);
  std::vector<Answer> answers;
};

TEST_F(CloudKeyValueStoreTest, APresentStringIsAnsweredBeforeTheReadReturns) {
  EXPECT_EQ(platform->cloud.synchronizeCount(), 1);
  platform->cloud.writeFromOtherDevice("k", Value("v"));
  store->fetchValue("k", record("first"));
  EXPECT_EQ(answers, (std::vector<Answer>{{"first", "v"}}));
  EXPECT_EQ(store->waitingKeyCount(), 0u);

  // A read that finds the value leaves a wait for it as it is.
  store->fetchValue("missing", record("waiting"));
  platform->cloud.writeFromOtherDevice("missing", Value(std::int64_t{7}));
  deliver();
  platform->cloud.setObjectDirectly("missing", Value("now"));
  store->fetchValue("missing", record("present"));
  EXPECT_EQ(store->waitingKeyCount(), 0u);
  EXPECT_EQ(answers.back(), (Answer{"present", "now"}));
}

TEST_F(CloudKeyValueStoreTest, AChangeAnswersEveryWaitingReadInOrder) {
  store->fetchValue("k", record("first"));
  store->fetchValue("k", record("second"));
  store->fetchValue("other", record("other"));
  EXPECT_EQ(store->waitingKeyCount(), 2u);
  platform->cloud.writeFromOtherDevice("k", Value("v"));
  EXPECT_TRUE(answers.empty());  // changes arrive on the main queue
  deliver();
  EXPECT_EQ(answers, (std::vector<Answer>{{"first", "v"}, {"second", "v"}}));
  EXPECT_EQ(store->waitingKeyCount(), 1u);
  // The answered wait's time-out is gone with it.
  platform->advance(30s);
  EXPECT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers.back(), (Answer{"other", std::nullopt}));
}

TEST_F(CloudKeyValueStoreTest, KeysOfOneChangeAreAnsweredInListOrder) {
  store->fetchValue("a", record("a"));
  store->fetchValue("b", record("b"));
  platform->cloud.setObjectDirectly("a", Value("1"));
  platform->cloud.setObjectDirectly("b", Value("2"));
  platform->cloud.postChange(UbiquitousChangeReason::initialSyncChange, {"b", "unknown", "a"});
  deliver();
  EXPECT_EQ(answers, (std::vector<Answer>{{"b", "2"}, {"a", "1"}}));
}

TEST_F(CloudKeyValueStoreTest, AtTheTimeOutEveryWaitingReadGetsAbsent) {
  store->fetchValue("k", record("first"));
  platform->advance(10s);
  store->fetchValue("k", record("second"));  // shares the first read's time-out
  platform->advance(20s - 1ns);
  EXPECT_TRUE(answers.empty());
  platform->advance(1ns);
  EXPECT_EQ(answers, (std::vector<Answer>{{"first", std::nullopt}, {"second", std::nullopt}}));
  EXPECT_EQ(store->waitingKeyCount(), 0u);
  EXPECT_EQ(platform->mainLoop().pendingCount(), 0u);
}

TEST_F(CloudKeyValueStoreTest, ANumberReadsAsAbsent) {
  platform->cloud.setObjectDirectly("n", Value(std::int64_t{42}));
  store->fetchValue("n", record("waits"));
  EXPECT_TRUE(answers.empty());
  platform->cloud.writeFromOtherDevice("n", Value(3.5));
  deliver();
  EXPECT_EQ(answers, (std::vector<Answer>{{"waits", std::nullopt}}));

  store->fetchValue("n", record("times out"));
  platform->advance(30s);
  EXPECT_EQ(answers.back(), (Answer{"times out", std::nullopt}));
}

TEST_F(CloudKeyValueStoreTest, QuotaAndAccountChangesAnswerNothing) {
  store->fetchValue("k", record("read"));
  platform->cloud.setObjectDirectly("k", Value("v"));
  platform->cloud.postChange(UbiquitousChangeReason::quotaViolationChange, {"k"});
  platform->cloud.postChange(UbiquitousChangeReason::accountChange, {"k"});
  platform->cloud.postChange(static_cast<UbiquitousChangeReason>(7), {"k"});
  deliver();
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(store->waitingKeyCount(), 1u);
  platform->advance(30s);
  EXPECT_EQ(answers, (std::vector<Answer>{{"read", std::nullopt}})) << "only the time-out answers";
}

TEST_F(CloudKeyValueStoreTest, MalformedChangesAnswerNothing) {
  using formats::Dictionary;
  store->fetchValue("k", record("read"));
  platform->cloud.setObjectDirectly("k", Value("v"));
  std::string reasonKey(platform::kUbiquitousKeyValueStoreChangeReasonKey);
  std::string keysKey(platform::kUbiquitousKeyValueStoreChangedKeysKey);
  platform->cloud.postChange(std::nullopt);
  platform->cloud.postChange(Dictionary{{keysKey, formats::Array{Value("k")}}});
  platform->cloud.postChange(
      Dictionary{{reasonKey, Value("0")}, {keysKey, formats::Array{Value("k")}}});
  platform->cloud.postChange(Dictionary{{reasonKey, Value(std::int64_t{0})}});
  platform->cloud.postChange(Dictionary{{reasonKey, Value(std::int64_t{0})}, {keysKey, Value("k")}});
  platform->cloud.postChange(Dictionary{{reasonKey, Value(std::int64_t{0})},
                                        {keysKey, formats::Array{Value("k"), Value(1)}}});
  platform->cloud.postChange(UbiquitousChangeReason::serverChange, {});
  deliver();
  EXPECT_TRUE(answers.empty());
  // Another store's change is not this store's.
  platform->notifications.post(
      {std::string(platform::kUbiquitousKeyValueStoreDidChangeExternallyNotification), &answers,
       Dictionary{{reasonKey, Value(std::int64_t{0})}, {keysKey, formats::Array{Value("k")}}}});
  deliver();
  EXPECT_TRUE(answers.empty());
  platform->advance(30s);
  EXPECT_EQ(answers, (std::vector<Answer>{{"read", std::nullopt}})) << "only the time-out answers";
}

// The host hears of every change, whatever its reason, and only once the reads it answers
// are answered; malformed changes reach no one.
TEST_F(CloudKeyValueStoreTest, EveryWellFormedChangeReachesTheObserverAfterItsReads) {
  using formats::Dictionary;
  std::vector<std::string> heard;
  auto observed = cloud::CloudKeyValueStore::make(*platform, [&](auto reason, const auto& keys) {
    std::string line = std::to_string(static_cast<int>(reason)) + ":";
    for (const auto& key : keys) line += key + ",";
    heard.push_back(line);
  });
  observed->fetchValue("k", [&](const auto& value) { heard.push_back("read " + *value); });
  platform->cloud.writeFromOtherDevice("k", Value("v"));
  deliver();
  platform->cloud.postChange(UbiquitousChangeReason::quotaViolationChange, {"big", "k"});
  platform->cloud.postChange(UbiquitousChangeReason::accountChange, {"k"});
  platform->cloud.postChange(static_cast<UbiquitousChangeReason>(7), {"k"});
  std::string reasonKey(platform::kUbiquitousKeyValueStoreChangeReasonKey);
  std::string keysKey(platform::kUbiquitousKeyValueStoreChangedKeysKey);
  platform->cloud.postChange(std::nullopt);
  platform->cloud.postChange(
      Dictionary{{reasonKey, Value("2")}, {keysKey, formats::Array{Value("k")}}});
  platform->cloud.postChange(Dictionary{{reasonKey, Value(std::int64_t{2})},
                                        {keysKey, formats::Array{Value("k"), Value(1)}}});
  platform->cloud.postChange(UbiquitousChangeReason::quotaViolationChange, {});
  deliver();
  EXPECT_EQ(heard, (std::vector<std::string>{"read v", "0:k,", "2:big,k,", "3:k,", "7:k,"}));
}

TEST_F(CloudKeyValueStoreTest, ARemovedKeysChangeAnswersNothing) {
  store->fetchValue("k", record("read"));
  platform->cloud.removeFromOtherDevice("k");
  deliver();
  EXPECT_TRUE(answers.empty());
  platform->advance(30s);
  EXPECT_EQ(answers, (std::vector<Answer>{{"read", std::nullopt}}));
}

TEST_F(CloudKeyValueStoreTest, LocalWritesAnswerNothing) {
  store->fetchValue("k", record("waiting"));
  int synchronized = platform->cloud.synchronizeCount();
  store->setValue("local", "k");
  EXPECT_EQ(platform->cloud.synchronizeCount(), synchronized + 1);
  deliver();
  EXPECT_TRUE(answers.empty());
  store->fetchValue("k", record("after"));
  EXPECT_EQ(answers, (std::vector<Answer>{{"after", "local"}}));

  store->removeValue("k");
  EXPECT_EQ(platform->cloud.value("k"), std::nullopt);
  EXPECT_EQ(platform->cloud.synchronizeCount(), synchronized + 2);
  EXPECT_EQ(store->waitingKeyCount(), 1u);
  platform->advance(30s);
  EXPECT_EQ(answers.back(), (Answer{"waiting", std::nullopt})) << "only the time-out answers";
}

TEST_F(CloudKeyValueStoreTest, TeardownWhileReadsWaitCallsNothing) {
  std::size_t observers = platform->notifications.observerCount();
  store->fetchValue("a", record("a"));
  store->fetchValue("b", record("b"));
  platform->cloud.writeFromOtherDevice("a", Value("queued"));  // delivery still queued
  store.reset();
  EXPECT_EQ(platform->notifications.observerCount(), observers - 1);
  EXPECT_EQ(platform->cloud.liveStores(), 0u);
  deliver();
  platform->advance(1min);
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(platform->mainLoop().pendingCount(), 0u);
}

TEST_F(CloudKeyValueStoreTest, ASecondStoreHasItsOwnReplicaAndRegistration) {
  auto second = cloud::CloudKeyValueStore::make(*platform);
  store->fetchValue("k", record("first store"));
  second->fetchValue("k", record("second store"));
  store.reset();
  platform->cloud.writeFromOtherDevice("k", Value("v"));
  deliver();
  EXPECT_EQ(answers, (std::vector<Answer>{{"second store", "v"}}));
}

TEST_F(CloudKeyValueStoreTest, AReaderThatReadsAgainWaitsAnew) {
  // At the time-out: the new read opens a new wait with a time-out of its own.
  store->fetchValue("k", [this](const auto& value) {
    answers.push_back({"first", value});
    store->fetchValue("k", record("again"));
  });
  platform->advance(30s);
  EXPECT_EQ(answers, (std::vector<Answer>{{"first", std::nullopt}}));
  EXPECT_EQ(store->waitingKeyCount(), 1u);
  platform->advance(30s);
  EXPECT_EQ(answers.back(), (Answer{"again", std::nullopt}));

  // On a change that brings no string: the new read waits for the next change.
  answers.clear();
  store->fetchValue("n", [this](const auto& value) {
    answers.push_back({"first", value});
    store->fetchValue("n", record("again"));
  });
  platform->cloud.writeFromOtherDevice("n", Value(std::int64_t{1}));
  deliver();
  platform->cloud.writeFromOtherDevice("n", Value("text"));
  deliver();
  EXPECT_EQ(answers, (std::vector<Answer>{{"first", std::nullopt}, {"again", "text"}}));
}

// Reads race with changes that the main thread handles: each read is answered exactly once,
// either at once on its own thread or later on the main one.
TEST_F(CloudKeyValueStoreTest, ReadsFromOtherThreadsRaceWithChangesWithoutLosingAnAnswer) {
  constexpr int kThreads = 4;
  constexpr int kReads = 500;
  constexpr int kKeys = 50;
  std::atomic<int> answered{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&, t] {
      for (int i = 0; i < kReads; ++i) {
        store->fetchValue("key" + std::to_string((t + i) % kKeys), [&](const auto& value) {
          if (value != "v") ++wrong;
          ++answered;
        });
      }
    });
  }
  for (int k = 0; k < kKeys; ++k) {
    platform->cloud.writeFromOtherDevice("key" + std::to_string(k), Value("v"));
    deliver();
  }
  for (auto& reader : readers) reader.join();
  deliver();
  EXPECT_EQ(answered, kThreads * kReads);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(store->waitingKeyCount(), 0u);
}

}  // namespace
}  // namespace quorin
