#include "legacy_container.hpp"

#include <random>
#include <string>

#include "formats/plist_codec.hpp"
#include "keychain/keychain.hpp"
#include "platform/linux/posix_platform.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::bench {
namespace {

namespace fs = std::filesystem;
using platform::Array;
using platform::Dictionary;
using platform::Value;

std::string event(std::mt19937& random, int i) {
  static const char* kNames[] = {"app_open", "paywall_shown", "purchase", "close", "ad_watched"};
  char price[32];
  std::snprintf(price, sizeof price, "%.2f", (random() % 10000) / 100.0);
  return std::string(R"({"name":")") + kNames[random() % 5] + R"(","ts":)" +
         std::to_string(1650000000 + i) + R"(,"session":"s)" + std::to_string(i / 40) +
         R"(","params":{"price":)" + price + R"(,"currency":"USD","items":[)" +
         std::to_string(random() % 999) + "," + std::to_string(random() % 999) +
         R"(],"note":"caf\u00e9 \"x\""}})";
}

// `[event,event,...]` of about `bytes` bytes.
std::string events(std::mt19937& random, std::size_t bytes) {
  std::string out = "[";
  for (int i = 0; out.size() < bytes; ++i) {
    if (i > 0) out.push_back(',');
    out += event(random, i);
  }
  return out + "]";
}

std::string offer(int i) {
  auto n = std::to_string(i);
  return R"({"spot":"spot)" + n + R"(","spotImage":"https://cdn.example.com/)" + n +
         R"(.png","startTime":)" + std::to_string(1650000000 + i * 60) +
         R"(,"durationMinutes":10080,"isPriorityLaunch":)" + (i % 2 ? "true" : "false") +
         R"(,"launchedTrigger":"trigger)" + n + R"(","source":{"c)" + n +
         R"(":{"name":"Campaign )" + n + R"(","finished_at":1650400000,"timezone":")" +
         (i % 3 ? "UTC" : "CLIENT") +
         R"(","activation_period":{"start_time":"18:00:00","end_time":"06:00:00",)"
         R"("start_weekday":"fri","end_weekday":"mon","activation_period_limit":2,)"
         R"("is_force_stop":)" +
         (i % 4 ? "false" : "true") + "}}}}";
}

Dictionary suite(int keys) {
  Dictionary values{{"AppFirstInstalledVersion", "3.2.0"},
                    {"AppFirstLaunchPOSIXTime", 1612345678.25},
                    {"PurchasedInAppIds", Array{"com.example.coins.100"}},
                    {"com.corvasta.morvent_session", std::int64_t{42}},
                    {"GlobalClickCounter", std::int64_t{12}}};
  for (int i = 0; static_cast<int>(values.size()) < keys; ++i) {
    auto name = (i % 2 ? "lto_actiovation_counter_trigger" : "cached.setting.") + std::to_string(i);
    values.emplace(std::move(name), std::int64_t{i});
  }
  return values;
}

void write(const fs::path& path, const std::string& bytes, std::vector<fs::path>& written) {
  platform::posix::makeDirectories(path.parent_path(), 0755);
  platform::posix::writeFileAtomically(path, bytes, 0644);
  written.push_back(path);
}

}  // namespace

std::vector<fs::path> writeLegacyContainer(const fs::path& container,
                                           const LegacyContainerSize& size) {
  std::mt19937 random(7);
  std::vector<fs::path> written;
  auto campaigns = container / "Library" / "campaigns";
  // Shares of the analytics total, largest first, as a busy device accumulates them.
  const std::pair<const char*, double> kAnalytics[] = {{"analytics", 0.5},
                                                       {"impressionAnalytics", 0.2},
                                                       {"adsImpressionAnalytics", 0.15},
                                                       {"sessionEventAnalytics", 0.1},
                                                       {"verifyReceiptAnalytics", 0.05}};
  for (auto [name, share] : kAnalytics) {
    auto list =
        events(random, static_cast<std::size_t>(share * static_cast<double>(size.analyticsBytes)));
    bool isObject = std::string_view(name) != "impressionAnalytics";
    write(campaigns / name, isObject ? R"({"events":)" + list + R"(,"pending_uploads":3})" : list,
          written);
  }
  std::string offers = "[";
  for (int i = 0; i < size.offers; ++i) offers += (i > 0 ? "," : "") + offer(i);
  write(campaigns / "lto_campaigns", offers + "]", written);
  write(campaigns / "campaigns", events(random, 1 << 20), written);
  write(campaigns / "limits", R"({"daily_impressions":3,"cooldown_seconds":3600})", written);
  write(campaigns / "context_sync_time", R"({"remoteTimeInterval":1650000300.125})", written);
  write(container / "Library" / "installedApps" / "installedApps", R"(["maps","chat"])", written);

  auto preferences = container / "Library" / "Preferences";
  platform::posix::makeDirectories(preferences, 0755);
  platform::posix::writeFileAtomically(
      preferences / "com.corvasta.morvent.plist",
      *platform::posix::serializePlist(Value(suite(size.suiteKeys)),
                                       platform::posix::PlistFormat::binary),
      0600);
  auto platform = std::make_shared<platform::posix::PosixPlatform>(
      platform::posix::PosixPlatformOptions{.container = container});
  keychain::Keychain::withService(platform, "com.corvasta.morvent")->set("id", "SharedIdentifier");
  return written;
}

}  // namespace quorin::bench
