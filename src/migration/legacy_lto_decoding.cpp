#include "migration/keyed_decoder.hpp"
#include "migration/legacy_lto_info.hpp"

namespace quorin::migration {
namespace {

using formats::Value;

constexpr std::string_view kWeekdayNames[] = {"mon", "tue", "wed", "thur", "fri", "sat", "sun"};

Weekday decodeWeekday(const KeyedDecoder& decoder, std::string_view key) {
  auto text = decoder.string(key);
  auto day = weekdayFromString(text);
  if (!day) decoder.corrupt(key, "Cannot initialize Weekday from invalid String value " + text);
  return *day;
}

LegacyActivationPeriod decodePeriod(const Value& value, CodingPath path) {
  KeyedDecoder decoder(value, std::move(path));
  LegacyActivationPeriod period;
  period.startTime = decoder.string("start_time");
  period.endTime = decoder.string("end_time");
  period.startWeekday = decodeWeekday(decoder, "start_weekday");
  period.endWeekday = decodeWeekday(decoder, "end_weekday");
  period.activationPerPeriodLimit = decoder.optionalInteger("activation_period_limit");
  period.forceStopped = decoder.boolean("is_force_stop");
  return period;
}

std::optional<LegacyCampaignTimezone> decodeTimezone(const KeyedDecoder& decoder) {
  auto text = decoder.optionalString("timezone");
  if (!text) return std::nullopt;
  if (*text == "UTC") return LegacyCampaignTimezone::UTC;
  if (*text == "CLIENT") return LegacyCampaignTimezone::client;
  decoder.corrupt("timezone",
                  "Cannot initialize LegacyCampaignTimezone from invalid String value " + *text);
}

std::shared_ptr<const LegacyLtoContext> decodeContext(const Value& value, CodingPath path) {
  KeyedDecoder decoder(value, std::move(path));
  auto context = std::make_shared<LegacyLtoContext>();
  if (const auto* period = decoder.optionalValue("activation_period"))
    context->activationPeriod = decodePeriod(*period, decoder.pathTo("activation_period"));
  context->timezone = decodeTimezone(decoder);
  context->finishAt = decoder.optionalInteger("finished_at");
  context->campaignName = decoder.string("name");
  return context;
}

// The context sits under the one member of "source", whatever its name.
std::shared_ptr<const LegacyLtoContext> decodeSource(const KeyedDecoder& record) {
  const auto& source = record.value("source", "Dictionary<String, Any>");
  KeyedDecoder wrapper(source, record.pathTo("source"));
  if (wrapper.members().empty())
    throw DecodingError(DecodingError::Kind::dataCorrupted, record.codingPath(),
                        "Lto context not found in source");
  const auto& [name, context] = *wrapper.members().begin();
  return decodeContext(context, wrapper.pathTo(name));
}

std::shared_ptr<const LegacyLtoInfo> decodeInfo(const Value& value, CodingPath path) {
  KeyedDecoder decoder(value, std::move(path));
  auto info = std::make_shared<LegacyLtoInfo>();
  info->spot = decoder.string("spot");
  info->defaultSpotImage = decoder.optionalString("spotImage");
  info->startTime = decoder.integer("startTime");
  info->durationMinutes = decoder.integer("durationMinutes");
  info->isPriorityLaunch = decoder.boolean("isPriorityLaunch");
  info->launchedTrigger = decoder.optionalString("launchedTrigger");
  info->ltoContext = decodeSource(decoder);
  return info;
}

}  // namespace

std::optional<Weekday> weekdayFromString(std::string_view text) {
  for (std::size_t i = 0; i < std::size(kWeekdayNames); ++i)
    if (kWeekdayNames[i] == text) return static_cast<Weekday>(i);
  return std::nullopt;
}

std::string_view toString(Weekday day) {
  return kWeekdayNames[static_cast<std::size_t>(day)];
}

std::vector<std::shared_ptr<const LegacyLtoInfo>> decodeLegacyLtoInfos(const Value& list) {
  const auto* elements = list.get<formats::Array>();
  if (elements == nullptr)
    throw DecodingError(
        DecodingError::Kind::typeMismatch, {},
        "Expected to decode Array<Any> but found " + std::string(jsonTypeName(list)) + " instead.");
  std::vector<std::shared_ptr<const LegacyLtoInfo>> infos;
  infos.reserve(elements->size());
  for (std::size_t i = 0; i < elements->size(); ++i)
    infos.push_back(decodeInfo((*elements)[i], {"Index " + std::to_string(i)}));
  return infos;
}

}  // namespace quorin::migration
