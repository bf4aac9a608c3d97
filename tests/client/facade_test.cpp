#include <gtest/gtest.h>

#include <set>

#include "client/quorin_client.hpp"
#include "quorin/quorin_client.hpp"
#include "quorin/version.h"
#include "support/in_memory_platform_fixture.hpp"

namespace quorin {
namespace {

class FacadeTest : public testing::InMemoryPlatformTest {
 protected:
  QRNPerformResult perform(std::string_view selector, std::vector<QRNValue> arguments = {}) {
    return facade.perform(selector, arguments);
  }

  QRNQuorinClient facade{platform};
};

TEST(VersionTest, ExportedSymbols) {
  EXPECT_EQ(QuorinNativeVersionNumber, 1.0);
  EXPECT_STREQ(reinterpret_cast<const char*>(QuorinNativeVersionString),
               "@(#)PROGRAM:QuorinNative  PROJECT:QuorinNative-1\n");
}

TEST_F(FacadeTest, InitHasAlreadySetUpTheClient) {
  int calls = 0;
  facade.setOnApplicationWillResignActive([&] { ++calls; });
  platform->postLifecycle(platform::kWillResignActiveNotification);
  EXPECT_EQ(calls, 1);
}

TEST_F(FacadeTest, PerformInitSetsUpANewClientAndAnswersTheFacade) {
  int oldCalls = 0;
  facade.setOnApplicationWillResignActive([&] { ++oldCalls; });
  auto old = facade.swiftClient();
  // The storefront refresh that setup queued holds the client while it runs; let it end.
  old->storeCountry();
  std::weak_ptr<QuorinClient> released = old;
  old.reset();

  auto result = perform("init");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(std::get<QRNQuorinClient*>(result.value), &facade);
  EXPECT_TRUE(released.expired()) << "the old client is released";
  EXPECT_FALSE(facade.onApplicationWillResignActive()) << "the new client starts without callbacks";

  int newCalls = 0;
  facade.setOnApplicationWillResignActive([&] { ++newCalls; });
  platform->postLifecycle(platform::kWillResignActiveNotification);
  EXPECT_EQ(oldCalls, 0);
  EXPECT_EQ(newCalls, 1) << "the new client is set up";

  std::vector<std::string> fetched;
  facade.setOnCloudStoreValueFetched(
      [&](const std::string& key, const auto& value) { fetched.push_back(key + "=" + *value); });
  facade.setValueToCloudStore("v", "k");
  facade.fetchValueFromCloudStoreForKey("k");
  EXPECT_EQ(fetched, std::vector<std::string>{"k=v"});
  EXPECT_EQ(perform("init", {true}).message, "init takes 0 argument(s), not 1");
}

TEST_F(FacadeTest, CallbackGettersReturnWhatTheClientHolds) {
  EXPECT_FALSE(facade.onApplicationEnterForeground());
  int calls = 0;
  facade.setOnApplicationEnterForeground([&] { ++calls; });
  auto getter = facade.onApplicationEnterForeground();
  ASSERT_TRUE(getter);
  getter();
  EXPECT_EQ(calls, 1);

  std::string seen;
  facade.setOnCloudStoreValueFetched([&](const std::string& key, const auto&) { seen = key; });
  facade.onCloudStoreValueFetched()("k", std::nullopt);
  EXPECT_EQ(seen, "k");
  facade.dispose();
  EXPECT_FALSE(facade.onApplicationEnterForeground());
  EXPECT_FALSE(facade.onCloudStoreValueFetched());

  // Through perform, an unset slot and a missing client are nil, not empty values.
  for (auto selector :
       {"onCloudStoreValueFetched", "onApplicationEnterForeground", "onApplicationEnterBackground",
        "onApplicationDidBecomeActive", "onApplicationWillResignActive"})
    EXPECT_TRUE(std::holds_alternative<std::monostate>(perform(selector).value)) << selector;
  facade.setOnApplicationDidBecomeActive([] {});
  EXPECT_TRUE(
      std::holds_alternative<QRNLifecycleCallback>(perform("onApplicationDidBecomeActive").value));
  facade.setSwiftClient(nullptr);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(perform("swiftClient").value));
}

TEST_F(FacadeTest, DisposedFacadeStillAnswersDeviceFacts) {
  platform->fakeDevice.setMachine("iPad13,4");
  platform->fakeDevice.vendor = formats::Uuid{};
  facade.dispose();
  EXPECT_EQ(facade.deviceModel(), "iPad13,4");
  EXPECT_EQ(facade.idfv(), "00000000-0000-0000-0000-000000000000");
}

TEST_F(FacadeTest, SetIsTabletDoesNotChangeTheIdiom) {
  facade.setIsTablet(true);
  EXPECT_FALSE(facade.isTablet());
  platform->fakeDevice.idiom = platform::UserInterfaceIdiom::pad;
  facade.setIsTablet(false);
  EXPECT_TRUE(facade.isTablet());
}

TEST_F(FacadeTest, WithoutAClientEveryCallAnswersNil) {
  facade.setSwiftClient(nullptr);
  facade.setOnApplicationEnterForeground([] {});
  facade.dispose();
  EXPECT_EQ(facade.deviceModel(), "");
  EXPECT_EQ(facade.storeCountry(), std::nullopt);
  EXPECT_FALSE(facade.isApplicationInstalledForScheme("fb://"));
  EXPECT_FALSE(facade.onApplicationEnterForeground());
  facade.setStringValueInKeychain("v", "k");
  EXPECT_EQ(facade.getStringValueInKeychainForKey("k"), std::nullopt);
  facade.fetchValueFromCloudStoreForKey("k");
  facade.clearKeychains();
}

TEST(FacadeDefaultTest, ANullPlatformMeansTheDefaultOne) {
  auto platform = std::make_shared<testing::InMemoryPlatform>();
  platform::setDefaultPlatform(platform);
  {
    QRNQuorinClient facade{nullptr};
    int calls = 0;
    facade.setOnApplicationDidBecomeActive([&] { ++calls; });
    platform->postLifecycle(platform::kDidBecomeActiveNotification);
    EXPECT_EQ(calls, 1);
    platform->fakeDevice.setMachine("iPad7,1");
    EXPECT_EQ(facade.deviceModel(), "iPad7,1");
    facade.dispose();
  }
  platform::setDefaultPlatform(nullptr);
}

TEST_F(FacadeTest, PerformAnswersEverySelectorLikeTheDirectCall) {
  platform->fakeDevice.setMachine("iPhone16,1");
  platform->fakeDevice.version = "17.5";
  platform->fakeDevice.vendor = formats::Uuid::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  platform->fakeBundle.info["CFBundleVersion"] = formats::Value("88");
  platform->fakeApplication.schemes = {"fb"};
  platform->payments.changeStorefront(platform::Storefront{"GBR", "143444"});

  EXPECT_EQ(std::get<std::string>(perform("deviceModel").value), "iPhone16,1");
  EXPECT_EQ(std::get<std::string>(perform("osVersion").value), "17.5");
  EXPECT_EQ(std::get<std::string>(perform("buildNumber").value), "88");
  EXPECT_EQ(std::get<bool>(perform("isTablet").value), false);
  EXPECT_TRUE(perform("setIsTablet:", {true}).ok());
  EXPECT_EQ(std::get<std::string>(perform("languageWithRegion").value), "en-US");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(perform("idfa").value));
  EXPECT_EQ(std::get<std::string>(perform("idfv").value), *facade.idfv());
  EXPECT_EQ(std::get<std::string>(perform("encodedDeviceIdentifier").value),
            *facade.encodedDeviceIdentifier());
  EXPECT_EQ(std::get<std::string>(perform("storeCountry").value), "GBR");
  EXPECT_EQ(std::get<bool>(perform("isApplicationInstalledForScheme:", {"fb://x"}).value), true);
  EXPECT_EQ(std::get<std::shared_ptr<QuorinClient>>(perform("swiftClient").value),
            facade.swiftClient());

  std::vector<std::string> log;
  const std::pair<const char*, std::string_view> lifecycle[] = {
      {"setOnApplicationEnterForeground:", platform::kWillEnterForegroundNotification},
      {"setOnApplicationEnterBackground:", platform::kDidEnterBackgroundNotification},
      {"setOnApplicationDidBecomeActive:", platform::kDidBecomeActiveNotification},
      {"setOnApplicationWillResignActive:", platform::kWillResignActiveNotification},
  };
  for (auto [setter, notification] : lifecycle) {
    std::string tag = setter;
    ASSERT_TRUE(perform(setter, {QRNLifecycleCallback([&log, tag] { log.push_back(tag); })}).ok());
    platform->postLifecycle(notification);
    std::string getter = tag.substr(3, tag.size() - 4);
    getter[0] = 'o';
    auto got = perform(getter).value;
    EXPECT_TRUE(std::get<QRNLifecycleCallback>(got)) << getter;
  }
  EXPECT_EQ(log.size(), 4u);

  ASSERT_TRUE(
      perform("setOnCloudStoreValueFetched:", {QRNCloudValueCallback([](auto&, auto&) {})}).ok());
  EXPECT_TRUE(std::get<QRNCloudValueCallback>(perform("onCloudStoreValueFetched").value));
  ASSERT_TRUE(perform("setOnApplicationEnterForeground:", {std::monostate{}}).ok());
  EXPECT_FALSE(facade.onApplicationEnterForeground());

  auto other = std::make_shared<QuorinClient>(platform);
  ASSERT_TRUE(perform("setSwiftClient:", {other}).ok());
  EXPECT_EQ(facade.swiftClient(), other);
  ASSERT_TRUE(perform("dispose").ok());
}

TEST_F(FacadeTest, PerformReachesTheStorageOperations) {
  auto valueOf = [&](const std::string& key) {
    return perform("getStringValueInKeychainForKey:", {key}).value;
  };
  ASSERT_TRUE(perform("setStringValueInKeychain:forKey:", {"secret", "token"}).ok());
  EXPECT_EQ(std::get<std::string>(valueOf("token")), "secret");
  ASSERT_TRUE(perform("removeValueInKeychainForKey:", {"token"}).ok());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(valueOf("token")));
  facade.setStringValueInKeychain("again", "token");
  ASSERT_TRUE(perform("clearKeychains").ok());
  EXPECT_EQ(facade.getStringValueInKeychainForKey("token"), std::nullopt);

  std::vector<std::string> fetched;
  facade.setOnCloudStoreValueFetched([&](const std::string& key, const auto& value) {
    fetched.push_back(key + "=" + value.value_or("nil"));
  });
  ASSERT_TRUE(perform("setValueToCloudStore:forKey:", {"v", "k"}).ok());
  ASSERT_TRUE(perform("fetchValueFromCloudStoreForKey:", {"k"}).ok());
  ASSERT_TRUE(perform("removeValueFromCloudStoreForKey:", {"k"}).ok());
  facade.fetchValueFromCloudStoreForKey("k");
  platform->advance(std::chrono::seconds(30));
  EXPECT_EQ(fetched, (std::vector<std::string>{"k=v", "k=nil"}));
  EXPECT_EQ(perform("setValueToCloudStore:forKey:", {"v"}).status,
            QRNPerformStatus::wrongArguments);
}

TEST_F(FacadeTest, PerformRefusesUnknownSelectorsAndWrongArguments) {
  auto unknown = perform("deviceModelX");
  EXPECT_EQ(unknown.status, QRNPerformStatus::unknownSelector);
  EXPECT_EQ(unknown.message, "unknown selector: deviceModelX");
  EXPECT_EQ(perform("isApplicationInstalledWithScheme:", {"fb"}).status,
            QRNPerformStatus::unknownSelector)
      << "the client's selector is not the facade's";

  auto tooMany = perform("deviceModel", {"extra"});
  EXPECT_EQ(tooMany.status, QRNPerformStatus::wrongArguments);
  EXPECT_EQ(tooMany.message, "deviceModel takes 0 argument(s), not 1");
  EXPECT_EQ(perform("isApplicationInstalledForScheme:").status, QRNPerformStatus::wrongArguments);

  auto wrongType = perform("isApplicationInstalledForScheme:", {true});
  EXPECT_EQ(wrongType.message, "argument 1 of isApplicationInstalledForScheme: must be a string");
  EXPECT_EQ(perform("isApplicationInstalledForScheme:", {std::monostate{}}).status,
            QRNPerformStatus::wrongArguments)
      << "string arguments are never nil";
  EXPECT_EQ(perform("setOnApplicationEnterForeground:", {QRNCloudValueCallback()}).status,
            QRNPerformStatus::wrongArguments);
  EXPECT_EQ(perform("setIsTablet:", {"yes"}).status, QRNPerformStatus::wrongArguments);
}

TEST_F(FacadeTest, SelectorArityFollowsTheColons) {
  std::set<std::string_view> unique;
  for (auto selector : QRNQuorinClient::selectors()) {
    EXPECT_TRUE(unique.insert(selector).second) << selector;
    auto colons = static_cast<std::size_t>(std::count(selector.begin(), selector.end(), ':'));
    std::vector<QRNValue> tooMany(colons + 1);
    auto result = facade.perform(selector, tooMany);
    EXPECT_EQ(result.message, std::string(selector) + " takes " + std::to_string(colons) +
                                  " argument(s), not " + std::to_string(colons + 1));
  }
  EXPECT_EQ(unique.size(), 34u);
}

}  // namespace
}  // namespace quorin
