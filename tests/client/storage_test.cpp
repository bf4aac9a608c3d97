#include <gtest/gtest.h>

#include "client/quorin_client.hpp"
#include "support/diagnostics_capture.hpp"
#include "support/in_memory_platform_fixture.hpp"

namespace quorin {
namespace {

using namespace std::chrono_literals;
using formats::Value;
using keychain::Keychain;

class StorageTest : public testing::InMemoryPlatformTest {
 protected:
  void SetUp() override {
    client->setOnCloudStoreValueFetched(
        [this](const std::string& key, const auto& value) { fetched.emplace_back(key, value); });
  }
  Keychain::Ptr legacyKeychain() {
    return Keychain::withService(platform, std::string(QuorinClient::morventDomain));
  }

  std::shared_ptr<QuorinClient> client = std::make_shared<QuorinClient>(platform);
  std::vector<std::pair<std::string, std::optional<std::string>>> fetched;
};

TEST_F(StorageTest, KeychainOperationsWorkBeforeSetupAndAfterDispose) {
  EXPECT_EQ(client->getStringValueInKeychain("token"), std::nullopt);
  client->setStringValueInKeychain("before", "token");
  EXPECT_EQ(client->getStringValueInKeychain("token"), "before");
  client->setup();
  client->setStringValueInKeychain("during", "token");
  EXPECT_EQ(client->getStringValueInKeychain("token"), "during");
  client->dispose();
  EXPECT_EQ(client->getStringValueInKeychain("token"), "during");
  client->removeValueInKeychain("token");
  EXPECT_EQ(client->getStringValueInKeychain("token"), std::nullopt);
  client->removeValueInKeychain("never written");
  // The items are this SDK's: generic passwords of its service.
  client->setStringValueInKeychain("v", "k");
  auto own = Keychain::withService(platform, std::string(QuorinClient::quorinDomain));
  EXPECT_EQ(own->getString("k"), "v");
  EXPECT_EQ(legacyKeychain()->getString("k"), std::nullopt);
}

TEST_F(StorageTest, AFailedKeychainCallReadsAsNilAndChangesNothing) {
  client->setStringValueInKeychain("kept", "k");
  platform->keychain.failNextAdd(platform::errSecInteractionNotAllowed);
  std::string output;
  {
    testing::DiagnosticsCapture diagnostics;
    client->setStringValueInKeychain("lost", "new");
    output = diagnostics.text();
  }
  EXPECT_NE(output.find("OSStatus error:[-25308]"), std::string::npos) << output;
  EXPECT_EQ(client->getStringValueInKeychain("new"), std::nullopt);
  EXPECT_EQ(client->getStringValueInKeychain("k"), "kept");
}

TEST_F(StorageTest, ClearKeychainsErasesBothServicesOnly) {
  client->clearKeychains();  // both empty: silent
  client->setStringValueInKeychain("current", "a");
  legacyKeychain()->set("legacy", "SharedIdentifier");
  auto other = Keychain::withService(platform, "com.example.other");
  other->set("stays", "a");
  client->clearKeychains();
  EXPECT_EQ(client->getStringValueInKeychain("a"), std::nullopt);
  EXPECT_EQ(legacyKeychain()->getString("SharedIdentifier"), std::nullopt);
  EXPECT_EQ(other->getString("a"), "stays");
}

TEST_F(StorageTest, CloudOperationsWorkOnlyBetweenSetupAndDispose) {
  client->setValueToCloudStore("early", "k");
  client->fetchValueFromCloudStore("k");
  EXPECT_EQ(platform->cloud.value("k"), std::nullopt);
  EXPECT_EQ(platform->cloud.liveStores(), 0u);

  client->setup();
  client->setValueToCloudStore("v", "k");
  client->fetchValueFromCloudStore("k");
  EXPECT_EQ(fetched, (decltype(fetched){{"k", "v"}}));
  client->removeValueFromCloudStore("k");
  EXPECT_EQ(platform->cloud.value("k"), std::nullopt);

  client->dispose();
  EXPECT_EQ(platform->cloud.liveStores(), 0u);
  client->setValueToCloudStore("late", "k");
  EXPECT_EQ(platform->cloud.value("k"), std::nullopt);
  client->setOnCloudStoreValueFetched(
      [this](const std::string& key, const auto& value) { fetched.emplace_back(key, value); });
  platform->cloud.setObjectDirectly("k", Value("there"));
  client->fetchValueFromCloudStore("k");
  EXPECT_EQ(fetched.size(), 1u);
}

TEST_F(StorageTest, AWaitingFetchIsAnsweredThroughTheCallbackSetAtThatMoment) {
  client->setup();
  client->fetchValueFromCloudStore("k");
  client->fetchValueFromCloudStore("k");
  std::vector<std::string> late;
  client->setOnCloudStoreValueFetched(
      [&](const std::string& key, const auto& value) { late.push_back(key + "=" + *value); });
  platform->cloud.writeFromOtherDevice("k", Value("v"));
  platform->mainLoop().drainPending();
  EXPECT_EQ(late, (std::vector<std::string>{"k=v", "k=v"}));
  EXPECT_TRUE(fetched.empty());

  client->setOnCloudStoreValueFetched(nullptr);
  client->fetchValueFromCloudStore("absent");
  platform->advance(30s);  // no callback: no effect
}

TEST_F(StorageTest, ANeverArrivingValueIsAnsweredWithNilAfterThirtySeconds) {
  client->setup();
  client->fetchValueFromCloudStore("k");
  platform->advance(30s - 1ms);
  EXPECT_TRUE(fetched.empty());
  platform->advance(1ms);
  EXPECT_EQ(fetched, (decltype(fetched){{"k", std::nullopt}}));
}

TEST_F(StorageTest, DisposeOrASecondSetupDropsWaitingFetches) {
  client->setup();
  client->fetchValueFromCloudStore("first");
  client->setup();
  EXPECT_EQ(platform->cloud.liveStores(), 1u);
  client->fetchValueFromCloudStore("second");
  client->dispose();
  platform->cloud.writeFromOtherDevice("first", Value("v"));
  platform->cloud.writeFromOtherDevice("second", Value("v"));
  platform->advance(1min);
  EXPECT_TRUE(fetched.empty());
  EXPECT_EQ(platform->mainLoop().pendingCount(), 0u);
}

// The callbacks read their captures after the slot that held them was cleared, which
// AddressSanitizer reports if the slot's own copy was the one running.
TEST_F(StorageTest, ACallbackMayDisposeOrReplaceItselfWhileItRuns) {
  const std::string tag(64, 't');
  std::vector<std::string> heard;
  client->setup();
  platform->cloud.writeFromOtherDevice("here", Value("v"));
  platform->mainLoop().drainPending();
  client->setOnCloudStoreValueFetched([&, tag](const std::string& key, const auto&) {
    client->dispose();
    heard.push_back(tag + key);
  });
  client->fetchValueFromCloudStore("here");
  EXPECT_EQ(heard, (std::vector<std::string>{tag + "here"}));

  client->setup();
  client->setOnCloudStoreValueFetched([&, tag](const std::string& key, const auto&) {
    client->setOnCloudStoreValueFetched(nullptr);
    heard.push_back(tag + key);
  });
  client->fetchValueFromCloudStore("late");
  client->fetchValueFromCloudStore("late");
  platform->advance(30s);  // the second read finds no callback left
  EXPECT_EQ(heard, (std::vector<std::string>{tag + "here", tag + "late"}));

  client->setOnCloudStoreValueFetched([&, tag](const std::string& key, const auto& value) {
    client->dispose();
    heard.push_back(tag + key + "=" + value.value_or("nil"));
  });
  client->fetchValueFromCloudStore("brought");
  client->fetchValueFromCloudStore("brought");
  platform->cloud.writeFromOtherDevice("brought", Value("b"));
  platform->mainLoop().drainPending();
  EXPECT_EQ(heard.back(), tag + "brought=b");
  EXPECT_EQ(heard.size(), 3u);  // disposed by the first answer: the second read is dropped
  EXPECT_EQ(platform->cloud.liveStores(), 0u);
}

TEST_F(StorageTest, CloudChangesReachTheCallbackUntilItOrDisposeClearsIt) {
  using platform::UbiquitousChangeReason;
  std::vector<std::pair<QRNCloudChangeReason, std::vector<std::string>>> changes;
  client->setup();
  client->setOnCloudStoreChange(
      [&](QRNCloudChangeReason reason, const auto& keys) { changes.emplace_back(reason, keys); });
  platform->cloud.writeFromOtherDevice("k", Value("v"));
  platform->cloud.postChange(UbiquitousChangeReason::quotaViolationChange, {"big"});
  platform->mainLoop().drainPending();
  using Change = std::pair<QRNCloudChangeReason, std::vector<std::string>>;
  EXPECT_EQ(changes, (std::vector<Change>{{QRNCloudChangeReason::serverChange, {"k"}},
                                          {QRNCloudChangeReason::quotaViolationChange, {"big"}}}));

  // A callback may dispose the client while it runs; nothing is heard after.
  client->setOnCloudStoreChange([&](QRNCloudChangeReason reason, const auto& keys) {
    client->dispose();
    changes.emplace_back(reason, keys);
  });
  platform->cloud.postChange(UbiquitousChangeReason::accountChange, {"a"});
  platform->cloud.postChange(UbiquitousChangeReason::accountChange, {"b"});
  platform->mainLoop().drainPending();
  EXPECT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes.back(), (Change{QRNCloudChangeReason::accountChange, {"a"}}));
  EXPECT_FALSE(client->onCloudStoreChange());
}

TEST_F(StorageTest, AClientThatGoesAwayHearsNothingMore) {
  client->setup();
  client->fetchValueFromCloudStore("k");
  // The storefront refresh that setup queued holds the client while it runs; let it end.
  client->storeCountry();
  std::weak_ptr<QuorinClient> watched = client;
  client.reset();
  EXPECT_TRUE(watched.expired());
  platform->cloud.writeFromOtherDevice("k", Value("v"));
  platform->advance(1min);
  EXPECT_TRUE(fetched.empty());
}

}  // namespace
}  // namespace quorin
