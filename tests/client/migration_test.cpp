#include <gtest/gtest.h>

#include "client/quorin_client.hpp"
#include "formats/json.hpp"
#include "support/in_memory_platform.hpp"
#include "support/value_printer.hpp"

namespace quorin {
namespace {

using formats::Value;
using keychain::Keychain;

constexpr auto kQuorin = QuorinClient::quorinDomain;
constexpr auto kMorvent = QuorinClient::morventDomain;
constexpr const char* kOutput = "/container/Library/campings_legacy";

class MigrationTest : public ::testing::Test {
 protected:
  void identify(std::string_view domain, const std::string& identifier = "device-1") {
    Keychain::withService(platform, std::string(domain))->set(identifier, "SharedIdentifier");
  }
  // Values that show which suite a collection read, and whether it read it as legacy.
  void seedSuites() {
    for (auto domain : {kQuorin, kMorvent}) {
      platform->defaults.set(std::string(domain), "AdjustId", std::string(domain));
      platform->defaults.set(std::string(domain), "app_session", Value(1));
      platform->defaults.set(std::string(domain), "com.corvasta.morvent_session", Value(2));
    }
  }
  Value generalInfo() { return *formats::parseJson(*files().read("campings_legacy/generalInfo")); }
  testing::InMemoryFiles& files() { return platform->files; }

  std::shared_ptr<testing::InMemoryPlatform> platform =
      std::make_shared<testing::InMemoryPlatform>();
  std::shared_ptr<QuorinClient> client = std::make_shared<QuorinClient>(platform);
};

TEST_F(MigrationTest, TheDomainIsWhereTheSharedIdentifierLives) {
  seedSuites();
  EXPECT_EQ(client->resolveMigrationDomain(), kQuorin);
  EXPECT_EQ(client->collectMigrationData(), kOutput);
  EXPECT_EQ(*generalInfo().find("adjustId"), Value(std::string(kQuorin)));
  EXPECT_EQ(*generalInfo().find("sessionVersionAgnosticCounter"), Value(1));
  EXPECT_EQ(generalInfo().find("clientId"), nullptr);

  identify(kMorvent, "legacy-id");
  EXPECT_EQ(client->resolveMigrationDomain(), kMorvent);
  client->collectMigrationData();
  EXPECT_EQ(*generalInfo().find("adjustId"), Value(std::string(kMorvent)));
  EXPECT_EQ(*generalInfo().find("sessionVersionAgnosticCounter"), Value(2));
  EXPECT_EQ(*generalInfo().find("clientId"), Value("legacy-id"));

  identify(kQuorin, "");  // an empty identifier still counts
  EXPECT_EQ(client->resolveMigrationDomain(), kQuorin);
  client->collectMigrationData();
  EXPECT_EQ(*generalInfo().find("clientId"), Value(""));
}

TEST_F(MigrationTest, NoPathWithoutALibraryDirectoryOrASuite) {
  files().put("campaigns/limits", "{}");
  files().library.reset();
  EXPECT_EQ(client->collectMigrationData(), std::nullopt);
  files().library = "/container/Library";
  platform->defaults.refused = {std::string(kQuorin)};
  EXPECT_EQ(client->collectMigrationData(), std::nullopt);
  // Neither made a migrator, so nothing is erased.
  client->clearDataAfterMigration();
  EXPECT_TRUE(files().read("campaigns/limits"));
}

TEST_F(MigrationTest, ClearingErasesOnlyAfterACollection) {
  files().put("campaigns/limits", R"({"v":1})");
  files().put("installedApps/installedApps", R"(["maps"])");
  files().put("mediaSource", "a plain file where a directory was");
  platform->defaults.set(std::string(kQuorin), "GlobalClickCounter", Value(3));
  identify(kQuorin);

  client->clearDataAfterMigration();
  EXPECT_TRUE(files().read("campaigns/limits"));
  EXPECT_TRUE(platform->defaults.exists(std::string(kQuorin)));

  EXPECT_EQ(client->collectMigrationData(), kOutput);
  EXPECT_TRUE(files().read("campings_legacy/counters"));
  client->clearDataAfterMigration();
  EXPECT_TRUE(files().paths().empty()) << *files().paths().begin();
  EXPECT_FALSE(platform->defaults.exists(std::string(kQuorin)));
  EXPECT_EQ(client->getStringValueInKeychain("SharedIdentifier"), "device-1");

  // A second clear finds nothing and fails at nothing.
  client->clearDataAfterMigration();
  EXPECT_TRUE(files().paths().empty());
}

TEST_F(MigrationTest, TheClearUsesTheDomainOfItsOwnTime) {
  identify(kMorvent);
  platform->defaults.set(std::string(kMorvent), "AdjustId", "a");
  platform->defaults.set(std::string(kQuorin), "AdjustId", "b");
  client->collectMigrationData();
  EXPECT_EQ(*generalInfo().find("adjustId"), Value("a"));
  identify(kQuorin);
  client->clearDataAfterMigration();
  EXPECT_FALSE(platform->defaults.exists(std::string(kQuorin)));
  EXPECT_TRUE(platform->defaults.exists(std::string(kMorvent)));
}

TEST_F(MigrationTest, ASecondCollectionWritesAgainIntoTheSameDirectory) {
  platform->defaults.set(std::string(kQuorin), "AdjustId", "first");
  auto first = client->collectMigrationData();
  platform->defaults.set(std::string(kQuorin), "AdjustId", "second");
  EXPECT_EQ(client->collectMigrationData(), first);
  EXPECT_EQ(*generalInfo().find("adjustId"), Value("second"));
}

TEST_F(MigrationTest, TheFacadeCollectsThenClears) {
  QRNQuorinClient facade(platform);
  files().put("campaigns/analytics", R"({"events":[{"n":"open"}]})");
  files().put("campaigns/lto_campaigns",
              R"([{"spot":"s","startTime":10,"durationMinutes":1,"isPriorityLaunch":true,)"
              R"("source":{"c":{"name":"n"}}}])");
  auto collected = facade.perform("collectMigrationData");
  ASSERT_EQ(collected.status, QRNPerformStatus::ok);
  EXPECT_EQ(std::get<std::string>(collected.value), kOutput);
  EXPECT_EQ(files().read("campings_legacy/cachedAnalytics"), R"({"events":[{"n":"open"}]})");
  EXPECT_EQ(files().read("campings_legacy/ltoInfo"),
            R"([{"campaignName":"n","endTime":70,"isPriorityLaunch":true,"spot":"s",)"
            R"("startTime":10}])");
  EXPECT_EQ(facade.perform("clearDataAfterMigration").status, QRNPerformStatus::ok);
  EXPECT_TRUE(files().paths().empty());
  facade.setSwiftClient(nullptr);
  EXPECT_EQ(facade.collectMigrationData(), std::nullopt);
}

}  // namespace
}  // namespace quorin
