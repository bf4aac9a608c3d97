#include "migration/legacy_data_migrator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "formats/json.hpp"
#include "support/in_memory_platform.hpp"
#include "support/value_printer.hpp"

namespace quorin::migration {
namespace {

using formats::Array;
using formats::Date;
using formats::Dictionary;
using formats::Value;

constexpr const char* kSuite = "com.vendexa.iossdk";

class LegacyDataMigratorTest : public ::testing::Test {
 protected:
  void run(bool usingLegacyDomain = false) {
    auto suite = usingLegacyDomain ? "com.corvasta.morvent" : kSuite;
    LegacyDataMigrator migrator(platform, platform->defaults.open(suite),
                                keychain::Keychain::withService(platform, suite),
                                "/container/Library/campings_legacy", usingLegacyDomain);
    migrator.migrateContext();
    migrator.migrateGeneralInfo();
    migrator.migrateCachedAnalytics();
    migrator.migrateCounters();
    migrator.migrateLtoInfo();
  }
  void put(const std::string& path, std::string json) { files().put(path, std::move(json)); }
  void set(const std::string& key, Value value) { platform->defaults.set(kSuite, key, value); }
  std::optional<Value> output(const std::string& name) {
    auto bytes = files().read("campings_legacy/" + name);
    if (!bytes) return std::nullopt;
    auto value = formats::parseJson(*bytes);
    EXPECT_TRUE(value) << name << ": " << *bytes;
    return value;
  }
  testing::InMemoryFiles& files() { return platform->files; }

  std::shared_ptr<testing::InMemoryPlatform> platform =
      std::make_shared<testing::InMemoryPlatform>();
};

TEST_F(LegacyDataMigratorTest, ADeviceWithoutLegacyDataGetsNoFilesAndNoDirectory) {
  run();
  EXPECT_TRUE(files().paths().empty());
  // Legacy directories that hold nothing useful change nothing either.
  put("campaigns/limits", "not json");
  put("campaigns/analytics", "{}");
  put("campaigns/impressionAnalytics", "[]");
  run();
  EXPECT_FALSE(files().isDirectory("campings_legacy"));
}

TEST_F(LegacyDataMigratorTest, ContextTakesEachFileThatParses) {
  put("campaigns/limits", R"({ "daily" : [1, 2] })");
  run();
  EXPECT_EQ(output("context"), formats::parseJson(R"({"limits":{"daily":[1,2]}})"));
  // Written compact, white space and all.
  EXPECT_EQ(files().read("campings_legacy/context"), R"({"limits":{"daily":[1,2]}})");

  put("campaigns/campaigns", R"([{"id":"c1"}])");
  put("campaigns/features", R"({"dark":true})");
  put("campaigns/content", R"({"title":"caf\u00e9 \" ok"})");
  put("campaigns/defaultProducts", R"(["p1","p2"])");
  put("campaigns/context_sync_time", R"({"remoteTimeInterval":1650000000.5})");
  run();
  EXPECT_EQ(output("context"),
            formats::parseJson(R"({"limits":{"daily":[1,2]},"campaigns":[{"id":"c1"}],)"
                               R"("app_features":{"dark":true},"content":{"title":"café \" ok"},)"
                               R"("product_ids":["p1","p2"],"context_built_at":1650000000.5})"));

  // A sync time that is no number, and files that are no documents, add nothing.
  put("campaigns/context_sync_time", R"({"remoteTimeInterval":"1650000000"})");
  put("campaigns/campaigns", R"([{"id":"c1"},])");
  put("campaigns/features", "42");
  put("campaigns/content", "");
  put("campaigns/defaultProducts", "[\"\xff\"]");
  run();
  EXPECT_EQ(output("context"), formats::parseJson(R"({"limits":{"daily":[1,2]}})"));
  put("campaigns/context_sync_time", R"({"remoteTimeInterval":7})");
  run();
  EXPECT_EQ(*output("context")->find("context_built_at"), Value(7));
}

TEST_F(LegacyDataMigratorTest, GeneralInfoNeedsMoreThanTheClientIdentifier) {
  keychain::Keychain::withService(platform, kSuite)->set("client-1", "SharedIdentifier");
  set("AdjustId", Value(42));  // the wrong type reads as absent
  run();
  EXPECT_EQ(output("generalInfo"), std::nullopt);

  set("PurchasedInAppIds", Value(Array{}));
  run();
  EXPECT_EQ(output("generalInfo"),
            formats::parseJson(R"({"clientId":"client-1","purchasedInApps":[]})"));
}

TEST_F(LegacyDataMigratorTest, GeneralInfoReadsEachValueAsItsType) {
  set("AppFirstInstalledVersion", "2.4.1");
  set("AppFirstLaunchPOSIXTime", Value(std::int64_t{1600000000}));
  set("AdjustId", "adj");
  set("attAuthorizationStatus", Value(1));
  set("UsedFromDefaultConfigCampaignTypes", Value(Array{"a", "b", "a"}));
  set("temp-limits-products", Value(Dictionary{{"p1", Date{1650000000.25}}}));
  set("PurchasedSubscriptionIds", Value(Array{"s1", Value(3)}));  // not all strings
  set("ConsumedProductIds", Value(Array{"c1"}));
  set("FirebaseInstanceId", "fb");
  set("app_session", Value(12.0));
  set("com.corvasta.morvent_session", Value(99));
  set("StartEndSession.sessionId", "session");
  set("StartEndSession.openingTimestamp", Value(1650000000.9));
  set("StartEndSession.closingTimestamp", Value(-1.5));
  put("installedApps/installedApps", R"(["maps","mail","maps"])");
  put("mediaSource/mediaSource", R"({"network":"n","campaign":"c","adGroup":"g","extra":1})");
  run();
  EXPECT_EQ(output("generalInfo"),
            formats::parseJson(R"({"firstInstalledVersion":"2.4.1","firstLaunchDate":1600000000,)"
                               R"("adjustId":"adj","attAuthorizationStatus":true,)"
                               R"("usedFromDefaultConfigCampaignTypes":["a","b"],)"
                               R"("productsTimestamps":{"p1":1650000000.25},)"
                               R"("consumedProductIds":["c1"],"installedApps":["mail","maps"],)"
                               R"("firebaseInstanceId":"fb","sessionVersionAgnosticCounter":12,)"
                               R"("sessionId":"session","sessionOpeningTimestamp":1650000000,)"
                               R"("sessionClosingTimestamp":-1,)"
                               R"("mediaSource":{"network":"n","campaign":"c","adGroup":"g"}})"));

  // Inexact numbers and files of the wrong shape read as absent.
  set("attAuthorizationStatus", Value(2));
  set("app_session", Value(12.5));
  set("AppFirstLaunchPOSIXTime", Value(std::int64_t{(1LL << 53) + 1}));
  set("temp-limits-products", Value(Dictionary{{"p1", Date{1}}, {"p2", Value(5.0)}}));
  set("StartEndSession.openingTimestamp", Value(1e300));
  put("installedApps/installedApps", R"(["maps",1])");
  put("mediaSource/mediaSource", R"({"network":"n","campaign":"c"})");
  run();
  auto info = output("generalInfo");
  for (auto key : {"attAuthorizationStatus", "sessionVersionAgnosticCounter", "firstLaunchDate",
                   "productsTimestamps", "sessionOpeningTimestamp", "installedApps", "mediaSource"})
    EXPECT_EQ(info->find(key), nullptr) << key;
}

TEST_F(LegacyDataMigratorTest, TheSessionCounterComesFromTheDomainInUse) {
  for (auto suite : {kSuite, "com.corvasta.morvent"}) {
    platform->defaults.set(suite, "app_session", Value(1));
    platform->defaults.set(suite, "com.corvasta.morvent_session", Value(2));
  }
  run(false);
  EXPECT_EQ(*output("generalInfo")->find("sessionVersionAgnosticCounter"), Value(1));
  run(true);
  EXPECT_EQ(*output("generalInfo")->find("sessionVersionAgnosticCounter"), Value(2));
}

TEST_F(LegacyDataMigratorTest, UnsignedCountersPassThroughExactly) {
  const Value largest(std::numeric_limits<std::uint64_t>::max());
  set("GlobalClickCounter", largest);
  set("lto_actiovation_counter_open", largest);
  set("app_session", largest);
  set("AdjustId", "adj");
  run();
  EXPECT_EQ(files().read("campings_legacy/counters"),
            R"({"GlobalClickCounter":18446744073709551615,)"
            R"("LtoActivationPerTriggerGlobalCounter":)"
            R"({"lto_actiovation_counter_open":18446744073709551615}})");
  // The session counter is a signed 64-bit number, which this is not.
  EXPECT_EQ(output("generalInfo"), formats::parseJson(R"({"adjustId":"adj"})"));
}

// A value JSON cannot hold (a non-finite number, text that is not UTF-8) is left out, and
// the rest of its file is written: the client identifier above all.
TEST_F(LegacyDataMigratorTest, AValueJsonCannotHoldCostsOnlyItself) {
  keychain::Keychain::withService(platform, kSuite)->set("client-1", "SharedIdentifier");
  set("AppFirstLaunchPOSIXTime", Value(std::nan("")));
  set("StartEndSession.sessionId", "sess\xFFion");
  set("FirebaseInstanceId", "fb");
  set("GlobalClickCounter", Value(3));
  set("GlobalEventCounter", Value("caf\xE9"));
  set("lto_actiovation_counter_\xFF", Value(1));
  set("lto_actiovation_counter_open", Value(2));
  run();
  EXPECT_EQ(output("generalInfo"),
            formats::parseJson(R"({"clientId":"client-1","firebaseInstanceId":"fb"})"));
  EXPECT_EQ(output("counters"),
            formats::parseJson(R"({"GlobalClickCounter":3,"LtoActivationPerTriggerGlobalCounter":)"
                               R"({"lto_actiovation_counter_open":2}})"));
}

// The deepest document that reads cannot go one level deeper as a member of the output.
TEST_F(LegacyDataMigratorTest, NoOutputIsDeeperThanAnInputMayBe) {
  auto deepest =
      std::string(formats::kMaxJsonDepth, '[') + std::string(formats::kMaxJsonDepth, ']');
  auto shallower =
      std::string(formats::kMaxJsonDepth - 1, '[') + std::string(formats::kMaxJsonDepth - 1, ']');
  put("campaigns/limits", deepest);
  put("campaigns/features", shallower);
  put("campaigns/impressionAnalytics", deepest);
  put("campaigns/sessionEventAnalytics", shallower);
  put("campaigns/analytics", R"({"kept":1})");
  run();
  auto context = output("context");
  ASSERT_TRUE(context);
  EXPECT_EQ(context->find("limits"), nullptr);
  EXPECT_NE(context->find("app_features"), nullptr);
  auto analytics = output("cachedAnalytics");
  ASSERT_TRUE(analytics);
  EXPECT_EQ(analytics->find("impressionAnalytics"), nullptr);
  EXPECT_NE(analytics->find("sessionEventAnalytics"), nullptr);
  EXPECT_EQ(*analytics->find("kept"), Value(1));
}

// As the platform's parser reads them: a byte-order mark, integers past 64 bits.
TEST_F(LegacyDataMigratorTest, LegacyJsonReadsAsThePlatformReadsIt) {
  put("campaigns/analytics", "\xEF\xBB\xBF{\"big\":123456789012345678901234567890}");
  put("campaigns/impressionAnalytics", "\xEF\xBB\xBF[1]");
  put("campaigns/limits", "\xEF\xBB\xBF[2]");
  put("campaigns/context_sync_time", "\xEF\xBB\xBF{\"remoteTimeInterval\":5}");
  run();
  EXPECT_EQ(*files().read("campings_legacy/cachedAnalytics"),
            R"({"impressionAnalytics":[1],"big":123456789012345678901234567890})");
  EXPECT_EQ(*output("context"), *formats::parseJson(R"({"limits":[2],"context_built_at":5})"));
}

TEST_F(LegacyDataMigratorTest, CachedAnalyticsReadsALargeFileThenSmallerOnes) {
  std::string events = "[";
  for (int i = 0; i < 20'000; ++i) events += (i ? "," : "") + std::to_string(i);
  events += "]";
  // Taken last first: the large file first, then smaller ones in the same buffer.
  put("campaigns/verifyReceiptAnalytics", R"({"huge":)" + events + "}");
  put("campaigns/sessionEventAnalytics", R"({"b":[true]})");
  put("campaigns/adsImpressionAnalytics", "");
  put("campaigns/impressionAnalytics", "[]");
  put("campaigns/analytics", R"({"a":1})");
  run();
  EXPECT_EQ(files().read("campings_legacy/cachedAnalytics"),
            R"({"huge":)" + events + R"(,"b":[true],"a":1})");
}

TEST_F(LegacyDataMigratorTest, CachedAnalyticsKeepsTheLastOfANameRepeatedAcrossFiles) {
  put("campaigns/analytics", R"({"e1":1,"e2":2,"e\u0033":3})");
  put("campaigns/adsImpressionAnalytics", R"({"e2":"later","e3":"later"})");
  put("campaigns/verifyReceiptAnalytics", R"({"e1":"last","e1":"very last"})");
  run();
  EXPECT_EQ(files().read("campings_legacy/cachedAnalytics"),
            R"({"e1":"very last","e3":"later","e2":"later"})");
}

TEST_F(LegacyDataMigratorTest, CachedAnalyticsMergesObjectsAndNamesArrays) {
  put("campaigns/analytics", R"({"events":[1],"shared":"first","dup":1,"dup":2})");
  put("campaigns/impressionAnalytics", R"([{"id":1}])");
  put("campaigns/adsImpressionAnalytics", R"({"shared":"later"})");
  put("campaigns/sessionEventAnalytics", "[]");
  put("campaigns/verifyReceiptAnalytics", "{}");
  run();
  EXPECT_EQ(output("cachedAnalytics"),
            formats::parseJson(R"({"events":[1],"shared":"later","dup":2,)"
                               R"("impressionAnalytics":[{"id":1}]})"));

  // A later object may overwrite an earlier array's member, and a broken file adds nothing.
  put("campaigns/sessionEventAnalytics", R"({"impressionAnalytics":"replaced"})");
  put("campaigns/verifyReceiptAnalytics", R"({"receipts":[)");
  run();
  EXPECT_EQ(*output("cachedAnalytics")->find("impressionAnalytics"), Value("replaced"));
  EXPECT_EQ(output("cachedAnalytics")->find("receipts"), nullptr);
}

TEST_F(LegacyDataMigratorTest, CountersKeepTheirValuesAndNestThePerTriggerOnes) {
  set("GlobalClickCounter", Value(3));
  set("GlobalRVCounter", Value(Dictionary{{"x", 1.5}}));
  set("lto_actiovation_counter_open", Value(2));
  set("lto_actiovation_counter_", Value(1));
  set("lto_activation_counter_typo", Value(9));
  run();
  EXPECT_EQ(
      output("counters"),
      formats::parseJson(R"({"GlobalClickCounter":3,"GlobalRVCounter":{"x":1.5},)"
                         R"("LtoActivationPerTriggerGlobalCounter":)"
                         R"({"lto_actiovation_counter_open":2,"lto_actiovation_counter_":1}})"));

  set("LtoActivationPerTriggerGlobalCounter",
      Value(Dictionary{{"kept", 7}, {"lto_actiovation_counter_open", 0}}));
  run();
  EXPECT_EQ(*output("counters")->find("LtoActivationPerTriggerGlobalCounter"),
            *formats::parseJson(R"({"kept":7,"lto_actiovation_counter_open":2,)"
                                R"("lto_actiovation_counter_":1})"));

  // A stored counter of another kind stays, and the per-trigger counters are left out.
  set("LtoActivationPerTriggerGlobalCounter", Value(5));
  run();
  EXPECT_EQ(*output("counters")->find("LtoActivationPerTriggerGlobalCounter"), Value(5));
}

TEST_F(LegacyDataMigratorTest, CountersWithoutAJsonFormAreDropped) {
  set("GlobalEventCounter", Value(Date{5}));
  set("GlobalImpressionCounter", Value(formats::Data{1, 2}));
  run();
  EXPECT_EQ(output("counters"), std::nullopt);
  set("GlobalRVCounter", Value(Array{Value(1), Value(Date{1}), Value(std::nan(""))}));
  run();
  EXPECT_EQ(output("counters"), formats::parseJson(R"({"GlobalRVCounter":[1]})"));
}

// A per-trigger counter JSON cannot hold costs only itself; with none left, there is no
// member for them, as when there were none.
TEST_F(LegacyDataMigratorTest, PerTriggerCountersWithoutAJsonFormLeaveNoEmptyMember) {
  set("GlobalClickCounter", Value(3));
  set("lto_actiovation_counter_\xFF", Value(1));
  set("lto_actiovation_counter_when", Value(Date{5}));
  run();
  EXPECT_EQ(output("counters"), formats::parseJson(R"({"GlobalClickCounter":3})"));

  set("lto_actiovation_counter_open", Value(Array{Value(2), Value(std::nan(""))}));
  run();
  EXPECT_EQ(output("counters"),
            formats::parseJson(R"({"GlobalClickCounter":3,"LtoActivationPerTriggerGlobalCounter":)"
                               R"({"lto_actiovation_counter_open":[2]}})"));
}

TEST_F(LegacyDataMigratorTest, OffersMigrateWholeOrNotAtAll) {
  auto offer = R"({"spot":"home","startTime":1000,"durationMinutes":90,"isPriorityLaunch":false,)"
               R"("source":{"c":{"name":"Spring","finished_at":5000,"timezone":"UTC"}}})";
  put("campaigns/lto_campaigns", "[" + std::string(offer) + "]");
  run();
  EXPECT_EQ(files().read("campings_legacy/ltoInfo"),
            R"([{"campaignName":"Spring","endTime":5000,"isPriorityLaunch":false,)"
            R"("spot":"home","startTime":1000}])");

  put("campaigns/lto_campaigns", "[" + std::string(offer) + R"(,{"spot":"broken"}])");
  files().removeItem("/container/Library/campings_legacy/ltoInfo");
  run();
  EXPECT_EQ(output("ltoInfo"), std::nullopt);

  put("campaigns/lto_campaigns", "[]");
  run();
  EXPECT_EQ(files().read("campings_legacy/ltoInfo"), "[]");
}

TEST_F(LegacyDataMigratorTest, AFailedWriteLeavesTheEarlierFileWhole) {
  put("campaigns/limits", R"({"v":1})");
  put("campaigns/analytics", R"({"a":1})");
  run();
  put("campaigns/limits", R"({"v":2})");
  put("campaigns/analytics", R"({"a":2})");
  files().failingWrites = {"context"};
  run();
  EXPECT_EQ(files().read("campings_legacy/context"), R"({"limits":{"v":1}})");
  EXPECT_EQ(files().read("campings_legacy/cachedAnalytics"), R"({"a":2})");
}

TEST_F(LegacyDataMigratorTest, AFailedWriteIsNotedWithTheFileManager) {
  put("campaigns/limits", R"({"v":1})");
  put("campaigns/lto_campaigns", "[]");
  set("GlobalClickCounter", Value(1));
  run();
  EXPECT_TRUE(files().unwritten().empty());

  files().failingWrites = {"context", "counters", "ltoInfo"};
  run();
  EXPECT_EQ(files().unwritten(),
            (std::set<std::string>{"/container/Library/campings_legacy/context",
                                   "/container/Library/campings_legacy/counters",
                                   "/container/Library/campings_legacy/ltoInfo"}));
}

TEST_F(LegacyDataMigratorTest, UnusableStoresEndOnlyTheirOwnStep) {
  put("campaigns/limits", R"({"v":1})");
  put("campaigns/analytics", R"({"a":1})");
  files().unreadable = {"limits"};
  run();
  EXPECT_EQ(output("context"), std::nullopt);
  EXPECT_TRUE(output("cachedAnalytics"));

  // A plain file where the output directory belongs: nothing can be written, nothing breaks.
  files().removeItem("/container/Library/campings_legacy");
  put("campings_legacy", "a file");
  set("GlobalClickCounter", Value(1));
  run();
  EXPECT_EQ(files().read("campings_legacy"), "a file");

  files().removeItem("/container/Library/campings_legacy");
  files().refuseDirectories = true;
  run();
  EXPECT_FALSE(files().fileExists("/container/Library/campings_legacy"));

  files().library.reset();
  run();
}

}  // namespace
}  // namespace quorin::migration
