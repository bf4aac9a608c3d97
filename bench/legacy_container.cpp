#include "legacy_container.hpp"

#include <random>
#include <string>

#include "formats/plist_codec.hpp"
#include "keychain/keychain.hpp"
#include "platform/linux/linux_platform.hpp"
#include "platform/posix/files/file_io.hpp"

namespace quorin::bench {
namespace {

namespace fs = std::filesystem;
using formats::Array;
using formats::Dictionary;
using formats::Value;

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

// `{"evt-id":event,...}` of about `bytes` bytes; every tenth id of an even `file` is shared
// by the other even files, as events queued twice are.
std::string keyedEvents(std::mt19937& random, std::size_t bytes, int file) {
  std::string out = "{";
  for (int i = 0; out.size() < bytes; ++i) {
    if (i > 0) out.push_back(',');
    bool shared = file % 2 == 0 && i % 10 == 0;
    out += R"("evt-)" + std::to_string(shared ? i : (file + 1) * 10'000'000 + i) + R"(":)";
    out += event(random, i);
  }
  return out + "}";
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

// Shares of the analytics total, largest first, as a busy device accumulates them.
constexpr std::pair<const char*, double> kAnalytics[] = {{"analytics", 0.5},
                                                         {"impressionAnalytics", 0.2},
                                                         {"adsImpressionAnalytics", 0.15},
                                                         {"sessionEventAnalytics", 0.1},
                                                         {"verifyReceiptAnalytics", 0.05}};

// The analytics file number `file` of the device, holding `share` of its analytics.
std::string analytics(std::mt19937& random, const LegacyContainerSize& size, int file,
                      double share) {
  auto total = static_cast<double>(size.analyticsBytes);
  bool isArray = file == 1;
  switch (size.shape) {
    case AnalyticsShape::keyedObjects:
    case AnalyticsShape::smallFiles: {
      auto bytes = static_cast<std::size_t>(total / std::size(kAnalytics));
      return isArray ? events(random, bytes) : keyedEvents(random, bytes, file);
    }
    case AnalyticsShape::arrays: {
      auto list = events(random, static_cast<std::size_t>(share * total));
      return isArray ? list : R"({"events":)" + list + R"(,"pending_uploads":3})";
    }
    case AnalyticsShape::hugeMember:
      if (file == 0) return R"({"events":)" + events(random, size.analyticsBytes) + "}";
      return isArray ? events(random, 1024) : keyedEvents(random, 1024, file);
  }
  return "{}";
}

void write(const fs::path& path, const std::string& bytes, std::vector<fs::path>& written) {
  platform::posix::makeDirectories(path.parent_path(), 0755);
  platform::posix::writeFileAtomically(path, bytes, 0644);
  written.push_back(path);
}

}  // namespace

std::string_view nameOf(AnalyticsShape shape) {
  switch (shape) {
    case AnalyticsShape::keyedObjects:
      return "keyed_objects";
    case AnalyticsShape::arrays:
      return "arrays";
    case AnalyticsShape::hugeMember:
      return "huge_member";
    case AnalyticsShape::smallFiles:
      return "small_files";
  }
  return "unknown";
}

LegacyContainerSize benchSize(AnalyticsShape shape) {
  switch (shape) {
    case AnalyticsShape::keyedObjects:
      return {.shape = shape};
    case AnalyticsShape::arrays:
      return {.shape = shape};
    case AnalyticsShape::hugeMember:
      return {.shape = shape, .analyticsBytes = 120u << 20};
    case AnalyticsShape::smallFiles:
      return {.shape = shape, .analyticsBytes = 5u * (64u << 10), .offers = 100, .suiteKeys = 100};
  }
  return {};
}

std::vector<fs::path> writeLegacyContainer(const fs::path& container,
                                           const LegacyContainerSize& size) {
  std::mt19937 random(7);
  std::vector<fs::path> written;
  auto campaigns = container / "Library" / "campaigns";
  for (int file = 0; file < static_cast<int>(std::size(kAnalytics)); ++file) {
    auto [name, share] = kAnalytics[file];
    write(campaigns / name, analytics(random, size, file, share), written);
  }
  std::string offers = "[";
  for (int i = 0; i < size.offers; ++i) offers += (i > 0 ? "," : "") + offer(i);
  write(campaigns / "lto_campaigns", offers + "]", written);
  auto contextBytes = size.shape == AnalyticsShape::smallFiles ? std::size_t{64} << 10 : 1 << 20;
  write(campaigns / "campaigns", events(random, contextBytes), written);
  write(campaigns / "features", keyedEvents(random, contextBytes / 4, 1), written);
  write(campaigns / "content", events(random, contextBytes / 4), written);
  write(campaigns / "defaultProducts", R"(["com.example.coins.100","com.example.pro"])", written);
  write(campaigns / "limits", R"({"daily_impressions":3,"cooldown_seconds":3600})", written);
  write(campaigns / "context_sync_time", R"({"remoteTimeInterval":1650000300.125})", written);
  write(container / "Library" / "installedApps" / "installedApps", R"(["maps","chat"])", written);

  auto preferences = container / "Library" / "Preferences";
  platform::posix::makeDirectories(preferences, 0755);
  platform::posix::writeFileAtomically(
      preferences / "com.corvasta.morvent.plist",
      *formats::serializePlist(Value(suite(size.suiteKeys)), formats::PlistFormat::binary), 0600);
  auto platform = std::make_shared<platform::linux::LinuxPlatform>(
      platform::linux::LinuxPlatformOptions{.container = container});
  keychain::Keychain::withService(platform, "com.corvasta.morvent")->set("id", "SharedIdentifier");
  return written;
}

}  // namespace quorin::bench
