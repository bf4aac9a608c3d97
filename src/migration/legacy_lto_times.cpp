#include <charconv>
#include <cmath>
#include <limits>

#include "migration/legacy_lto_info.hpp"

namespace quorin::migration {
namespace {

constexpr double kDay = 86400;
constexpr double kWeek = 7 * kDay;
using Limits = std::numeric_limits<std::int64_t>;

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? Limits::max() : Limits::min();
}

std::int64_t saturatingMinutes(std::int64_t minutes) {
  std::int64_t seconds = 0;
  if (!__builtin_mul_overflow(minutes, 60, &seconds)) return seconds;
  return minutes > 0 ? Limits::max() : Limits::min();
}

// One or two digits, up to `max`.
std::optional<unsigned> field(std::string_view text, unsigned max) {
  unsigned number = 0;
  if (text.empty() || text.size() > 2) return std::nullopt;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number > max) return std::nullopt;
  return number;
}

}  // namespace

double offset(Weekday day) {
  return day == Weekday::sun ? 0 : (static_cast<double>(day) + 1) * kDay;
}

double timeOfDaySeconds(std::string_view text) {
  auto first = text.find(':');
  auto second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) return 0;
  auto hour = field(text.substr(0, first), 23);
  auto minute = field(text.substr(first + 1, second - first - 1), 59);
  auto secondOfMinute = field(text.substr(second + 1), 59);
  if (!hour || !minute || !secondOfMinute) return 0;
  return *hour * 3600.0 + *minute * 60.0 + *secondOfMinute;
}

double weekBase(const platform::Calendar& calendar) {
  double start = calendar.startOfWeek(calendar.now()).value_or(0);
  return start - (calendar.firstWeekday() - 1) * kDay;
}

double LegacyActivationPeriod::periodEnd(const platform::Calendar& calendar) const {
  double now = calendar.now();
  double base = weekBase(calendar);
  double startAt = base + offset(startWeekday) + timeOfDaySeconds(startTime);
  double endAt = base + offset(endWeekday) + timeOfDaySeconds(endTime);
  bool wraps = endAt < startAt;
  if (!wraps || now < startAt) return endAt;
  return endAt + kWeek;
}

std::int64_t LegacyLtoInfo::computedEndTime(const platform::Calendar& calendar) const {
  std::int64_t end = saturatingAdd(startTime, saturatingMinutes(durationMinutes));
  if (ltoContext->finishAt) {
    std::int64_t finish = *ltoContext->finishAt;
    if (ltoContext->timezone == LegacyCampaignTimezone::client)
      finish = saturatingAdd(finish, -calendar.secondsFromGMT(calendar.now()));
    end = std::min(end, finish);
  }
  const auto& period = ltoContext->activationPeriod;
  if (period && period->forceStopped) {
    double periodEnd = period->periodEnd(calendar);
    // A window end past the 64-bit range cannot lower the end; NaN plays no part.
    if (periodEnd < 0x1p63)
      end = std::min(end, static_cast<std::int64_t>(std::max(periodEnd, -0x1p63)));
  }
  return end;
}

}  // namespace quorin::migration
