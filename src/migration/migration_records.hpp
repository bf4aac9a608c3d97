#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "formats/value.hpp"

namespace quorin::migration {

// Where the application was installed from, as the attribution provider named it.
struct MediaSource {
  std::string network;
  std::string campaign;
  std::string adGroup;

  // Throws DecodingError unless all three members are strings.
  static MediaSource decode(const formats::Value& value);
  formats::Value encode() const;
};

// The general state the legacy SDK kept. Each field is written only when present.
struct MigrationGeneralInfo {
  std::optional<std::string> clientId;
  std::optional<std::string> firstInstalledVersion;
  std::optional<double> firstLaunchDate;
  std::optional<std::string> adjustId;
  std::optional<bool> attAuthorizationStatus;
  std::optional<std::set<std::string>> usedFromDefaultConfigCampaignTypes;
  std::optional<std::map<std::string, double>> productsTimestamps;
  std::optional<std::set<std::string>> purchasedInApps;
  std::optional<std::set<std::string>> purchasedSubscriptionIds;
  std::optional<std::set<std::string>> consumedProductIds;
  std::optional<std::set<std::string>> installedApps;
  std::optional<std::string> firebaseInstanceId;
  std::optional<std::int64_t> sessionVersionAgnosticCounter;
  std::optional<std::string> sessionId;
  std::optional<std::int64_t> sessionOpeningTimestamp;
  std::optional<std::int64_t> sessionClosingTimestamp;
  std::optional<MediaSource> mediaSource;

  // Whether any field but the client identifier is present.
  bool hasLegacyState() const;
  formats::Value encode() const;
};

// One limited-time offer, as the new SDK takes it over. Times are seconds since 1970.
struct MigrationLtoInfo {
  bool isPriorityLaunch = false;
  std::optional<std::string> launchedTrigger;
  std::optional<std::string> defaultSpotImage;
  std::string campaignName;
  std::string spot;
  double startTime = 0;
  double endTime = 0;

  formats::Value encode() const;
};

}  // namespace quorin::migration
