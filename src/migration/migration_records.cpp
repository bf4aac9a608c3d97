#include "migration/migration_records.hpp"

#include "migration/keyed_decoder.hpp"

namespace quorin::migration {
namespace {

using formats::Array;
using formats::Dictionary;
using formats::Value;

Value encodeSet(const std::set<std::string>& strings) {
  Array array;
  array.reserve(strings.size());
  for (const auto& text : strings) array.emplace_back(text);
  return Value(std::move(array));
}

Value encodeTimestamps(const std::map<std::string, double>& timestamps) {
  Dictionary dictionary;
  for (const auto& [name, seconds] : timestamps) dictionary.emplace(name, seconds);
  return Value(std::move(dictionary));
}

template <typename Field, typename Encode>
void put(Dictionary& out, const char* name, const std::optional<Field>& field, Encode encode) {
  if (field) out.emplace(name, encode(*field));
}

template <typename Field>
void put(Dictionary& out, const char* name, const std::optional<Field>& field) {
  if (field) out.emplace(name, Value(*field));
}

}  // namespace

MediaSource MediaSource::decode(const Value& value) {
  KeyedDecoder decoder(value, {});
  return {decoder.string("network"), decoder.string("campaign"), decoder.string("adGroup")};
}

Value MediaSource::encode() const {
  return Value(Dictionary{{"network", network}, {"campaign", campaign}, {"adGroup", adGroup}});
}

bool MigrationGeneralInfo::hasLegacyState() const {
  return firstInstalledVersion || firstLaunchDate || adjustId || attAuthorizationStatus ||
         usedFromDefaultConfigCampaignTypes || productsTimestamps || purchasedInApps ||
         purchasedSubscriptionIds || consumedProductIds || installedApps || firebaseInstanceId ||
         sessionVersionAgnosticCounter || sessionId || sessionOpeningTimestamp ||
         sessionClosingTimestamp || mediaSource;
}

Value MigrationGeneralInfo::encode() const {
  Dictionary out;
  put(out, "clientId", clientId);
  put(out, "firstInstalledVersion", firstInstalledVersion);
  put(out, "firstLaunchDate", firstLaunchDate);
  put(out, "adjustId", adjustId);
  put(out, "attAuthorizationStatus", attAuthorizationStatus);
  put(out, "usedFromDefaultConfigCampaignTypes", usedFromDefaultConfigCampaignTypes, encodeSet);
  put(out, "productsTimestamps", productsTimestamps, encodeTimestamps);
  put(out, "purchasedInApps", purchasedInApps, encodeSet);
  put(out, "purchasedSubscriptionIds", purchasedSubscriptionIds, encodeSet);
  put(out, "consumedProductIds", consumedProductIds, encodeSet);
  put(out, "installedApps", installedApps, encodeSet);
  put(out, "firebaseInstanceId", firebaseInstanceId);
  put(out, "sessionVersionAgnosticCounter", sessionVersionAgnosticCounter);
  put(out, "sessionId", sessionId);
  put(out, "sessionOpeningTimestamp", sessionOpeningTimestamp);
  put(out, "sessionClosingTimestamp", sessionClosingTimestamp);
  put(out, "mediaSource", mediaSource, [](const MediaSource& source) { return source.encode(); });
  return Value(std::move(out));
}

Value MigrationLtoInfo::encode() const {
  Dictionary out;
  out.emplace("isPriorityLaunch", isPriorityLaunch);
  put(out, "launchedTrigger", launchedTrigger);
  put(out, "defaultSpotImage", defaultSpotImage);
  out.emplace("campaignName", campaignName);
  out.emplace("spot", spot);
  out.emplace("startTime", startTime);
  out.emplace("endTime", endTime);
  return Value(std::move(out));
}

}  // namespace quorin::migration
