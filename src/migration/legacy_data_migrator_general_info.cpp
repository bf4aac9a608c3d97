#include "keychain/no_throw.hpp"
#include "migration/decoding_error.hpp"
#include "migration/json_form.hpp"
#include "migration/json_object_file.hpp"
#include "migration/legacy_data_migrator.hpp"
#include "migration/legacy_names.hpp"
#include "migration/migration_records.hpp"

namespace quorin::migration {
namespace {

using formats::Value;

std::optional<std::set<std::string>> asSet(std::optional<std::vector<std::string>> strings) {
  if (!strings) return std::nullopt;
  return std::set<std::string>(strings->begin(), strings->end());
}

// A timestamp that no 64-bit integer holds is left out.
std::optional<std::int64_t> truncated(std::optional<double> seconds) {
  if (!seconds || !(*seconds >= -0x1p63 && *seconds < 0x1p63)) return std::nullopt;
  return static_cast<std::int64_t>(*seconds);
}

std::optional<std::map<std::string, double>> secondsSince1970(
    std::optional<std::map<std::string, formats::Date>> dates) {
  if (!dates) return std::nullopt;
  std::map<std::string, double> seconds;
  for (const auto& [name, date] : *dates) seconds.emplace(name, date.secondsSince1970);
  return seconds;
}

std::optional<std::set<std::string>> decodeStringSet(const std::optional<Value>& value) {
  const auto* array = value ? value->get<formats::Array>() : nullptr;
  if (array == nullptr) return std::nullopt;
  std::set<std::string> strings;
  for (const auto& element : *array) {
    const auto* text = element.get<std::string>();
    if (text == nullptr) return std::nullopt;
    strings.insert(*text);
  }
  return strings;
}

std::optional<MediaSource> decodeMediaSource(const std::optional<Value>& value) {
  if (!value) return std::nullopt;
  try {
    return MediaSource::decode(*value);
  } catch (const DecodingError&) {
    return std::nullopt;
  }
}

}  // namespace

void LegacyDataMigrator::fillFromDefaults(MigrationGeneralInfo& info) const {
  namespace Key = LegacyDefaultsKey;
  const auto& defaults = *userDefaults_;
  info.firstInstalledVersion = stringForKey(defaults, Key::appFirstInstalledVersion);
  info.firstLaunchDate = doubleForKey(defaults, Key::appFirstLaunchPOSIXTime);
  info.adjustId = stringForKey(defaults, Key::adjustId);
  info.attAuthorizationStatus = boolForKey(defaults, Key::attAuthorizationStatus);
  info.usedFromDefaultConfigCampaignTypes =
      asSet(stringArrayForKey(defaults, Key::usedFromDefaultConfigCampaignTypes));
  info.productsTimestamps =
      secondsSince1970(dateDictionaryForKey(defaults, Key::tempLimitsProducts));
  info.purchasedInApps = asSet(stringArrayForKey(defaults, Key::purchasedInAppIds));
  info.purchasedSubscriptionIds = asSet(stringArrayForKey(defaults, Key::purchasedSubscriptionIds));
  info.consumedProductIds = asSet(stringArrayForKey(defaults, Key::consumedProductIds));
  info.firebaseInstanceId = stringForKey(defaults, Key::firebaseInstanceId);
  info.sessionVersionAgnosticCounter =
      integerForKey(defaults, usingLegacyDomain_ ? Key::legacySession : Key::appSession);
  info.sessionId = stringForKey(defaults, Key::sessionId);
  info.sessionOpeningTimestamp = truncated(doubleForKey(defaults, Key::openingTimestamp));
  info.sessionClosingTimestamp = truncated(doubleForKey(defaults, Key::closingTimestamp));
}

void LegacyDataMigrator::fillFromFiles(MigrationGeneralInfo& info) const {
  info.installedApps = decodeStringSet(readJson(LegacyDirectory::installedApps, "installedApps"));
  info.mediaSource = decodeMediaSource(readJson(LegacyDirectory::mediaSource, "mediaSource"));
}

void LegacyDataMigrator::migrateGeneralInfo() const {
  MigrationGeneralInfo info;
  info.clientId = keychain::absentOnError([&] {
    return keychain_->getString(std::string(kSharedIdentifierKey),
                                keychain::IgnoringAttributeSynchronizable::yes);
  });
  fillFromDefaults(info);
  fillFromFiles(info);
  if (!info.hasLegacyState() || !ensureDirectory(fileManager_, targetDirectory_)) return;
  if (auto form = jsonForm(info.encode()))
    writeOutputFile(fileManager_, targetDirectory_, OutputFile::generalInfo, *form);
}

}  // namespace quorin::migration
