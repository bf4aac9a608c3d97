#pragma once

#include <array>
#include <string_view>

// Where the legacy SDK kept its state, spelled as it spelled it.
namespace quorin::migration {

namespace LegacyDirectory {
inline constexpr std::string_view campaigns = "campaigns";
inline constexpr std::string_view installedApps = "installedApps";
inline constexpr std::string_view mediaSource = "mediaSource";
// The migration's own output, "campings" as it always was.
inline constexpr std::string_view output = "campings_legacy";
}  // namespace LegacyDirectory

namespace LegacyDefaultsKey {
inline constexpr std::string_view appFirstInstalledVersion = "AppFirstInstalledVersion";
inline constexpr std::string_view appFirstLaunchPOSIXTime = "AppFirstLaunchPOSIXTime";
inline constexpr std::string_view adjustId = "AdjustId";
inline constexpr std::string_view attAuthorizationStatus = "attAuthorizationStatus";
inline constexpr std::string_view usedFromDefaultConfigCampaignTypes =
    "UsedFromDefaultConfigCampaignTypes";
inline constexpr std::string_view tempLimitsProducts = "temp-limits-products";
inline constexpr std::string_view purchasedInAppIds = "PurchasedInAppIds";
inline constexpr std::string_view purchasedSubscriptionIds = "PurchasedSubscriptionIds";
inline constexpr std::string_view consumedProductIds = "ConsumedProductIds";
inline constexpr std::string_view firebaseInstanceId = "FirebaseInstanceId";
inline constexpr std::string_view appSession = "app_session";
inline constexpr std::string_view sessionId = "StartEndSession.sessionId";
inline constexpr std::string_view openingTimestamp = "StartEndSession.openingTimestamp";
inline constexpr std::string_view closingTimestamp = "StartEndSession.closingTimestamp";
inline constexpr std::string_view legacySession = "com.corvasta.morvent_session";
}  // namespace LegacyDefaultsKey

inline constexpr std::array<std::string_view, 7> kLegacyCounterKeys = {
    "GlobalClickCounter",
    "GlobalImpressionCounter",
    "GlobalEventCounter",
    "GlobalRVCounter",
    "PeriodTempLimitsCounter",
    "GlobalNestedCampaignsCounter",
    "LtoActivationPerTriggerGlobalCounter"};
inline constexpr std::string_view kPerTriggerCountersKey = "LtoActivationPerTriggerGlobalCounter";
inline constexpr std::string_view kPerTriggerCounterPrefix = "lto_actiovation_counter_";

inline constexpr std::array<std::string_view, 5> kLegacyAnalyticsFiles = {
    "analytics", "impressionAnalytics", "adsImpressionAnalytics", "sessionEventAnalytics",
    "verifyReceiptAnalytics"};

// The legacy context files, each with the member it becomes in the output.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kContextFiles = {{
    {"campaigns", "campaigns"},
    {"limits", "limits"},
    {"features", "app_features"},
    {"content", "content"},
    {"defaultProducts", "product_ids"},
}};
inline constexpr std::string_view kContextSyncTimeFile = "context_sync_time";
inline constexpr std::string_view kLtoCampaignsFile = "lto_campaigns";

inline constexpr std::string_view kSharedIdentifierKey = "SharedIdentifier";

namespace OutputFile {
inline constexpr std::string_view context = "context";
inline constexpr std::string_view generalInfo = "generalInfo";
inline constexpr std::string_view cachedAnalytics = "cachedAnalytics";
inline constexpr std::string_view counters = "counters";
inline constexpr std::string_view ltoInfo = "ltoInfo";
}  // namespace OutputFile

}  // namespace quorin::migration
