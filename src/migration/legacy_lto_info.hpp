#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/value.hpp"
#include "platform/calendar.hpp"

namespace quorin::migration {

// Days of the week as the legacy SDK spelled them ("thur", not "thu").
enum class Weekday { mon, tue, wed, thur, fri, sat, sun };

std::optional<Weekday> weekdayFromString(std::string_view text);
std::string_view toString(Weekday day);
// Seconds from the Sunday midnight that begins the week.
double offset(Weekday day);

enum class LegacyCampaignTimezone { UTC, client };

// A weekly window in which a limited-time offer may run.
struct LegacyActivationPeriod {
  std::string startTime;  // "HH:mm:ss"
  std::string endTime;
  std::optional<std::int64_t> activationPerPeriodLimit;
  bool forceStopped = false;
  Weekday startWeekday = Weekday::sun;
  Weekday endWeekday = Weekday::sun;

  // Where the window ends, in seconds since 1970, for the week of the calendar's now.
  double periodEnd(const platform::Calendar& calendar) const;
};

struct LegacyLtoContext {
  std::optional<std::int64_t> finishAt;
  std::optional<LegacyActivationPeriod> activationPeriod;
  std::optional<LegacyCampaignTimezone> timezone;
  std::string campaignName;
};

// One limited-time offer the legacy SDK kept. Times are seconds since 1970.
struct LegacyLtoInfo {
  std::string spot;
  std::optional<std::string> defaultSpotImage;
  std::int64_t startTime = 0;
  std::int64_t durationMinutes = 0;
  bool isPriorityLaunch = false;
  std::optional<std::string> launchedTrigger;
  std::shared_ptr<const LegacyLtoContext> ltoContext;

  // When the offer ends: its duration, cut short by the campaign's finish time and by a
  // force-stopped window. Sums past the 64-bit range saturate.
  std::int64_t computedEndTime(const platform::Calendar& calendar) const;
};

// Decodes a whole offer list; throws DecodingError for the first element that fails, so a
// list decodes whole or not at all.
std::vector<std::shared_ptr<const LegacyLtoInfo>> decodeLegacyLtoInfos(const formats::Value& list);

// The Sunday midnight, local time, that the current week's weekday offsets count from.
double weekBase(const platform::Calendar& calendar);
// Seconds past midnight of an "HH:mm:ss" time of day; 0 when the text is no such time.
double timeOfDaySeconds(std::string_view text);

}  // namespace quorin::migration
