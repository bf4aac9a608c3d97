#include "platform/posix/device/system_calendar.hpp"

#include <langinfo.h>
#include <locale.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace quorin::platform::posix {
namespace {

// glibc names the first weekday as a day counted from a reference date that is either a
// Sunday (19971130) or a Monday (19971201).
int localeFirstWeekday() {
  locale_t locale = ::newlocale(LC_TIME_MASK, "", nullptr);
  if (locale == nullptr) return 1;
  int first = static_cast<unsigned char>(*::nl_langinfo_l(_NL_TIME_FIRST_WEEKDAY, locale));
  auto reference = static_cast<std::uint32_t>(
      reinterpret_cast<std::uintptr_t>(::nl_langinfo_l(_NL_TIME_WEEK_1STDAY, locale)));
  ::freelocale(locale);
  if (first < 1 || first > 7) return 1;
  int referenceDay = reference == 19971201 ? 2 : 1;
  return (referenceDay - 1 + first - 1) % 7 + 1;
}

std::optional<std::tm> localTime(double instant) {
  if (!std::isfinite(instant) || std::fabs(instant) > 1e15) return std::nullopt;
  auto seconds = static_cast<std::time_t>(std::floor(instant));
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  return local;
}

}  // namespace

SystemCalendar::SystemCalendar() : firstWeekday_(localeFirstWeekday()) {
  ::tzset();
}

double SystemCalendar::now() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::int64_t SystemCalendar::secondsFromGMT(double instant) const {
  auto local = localTime(instant);
  return local ? local->tm_gmtoff : 0;
}

std::optional<double> SystemCalendar::startOfWeek(double instant) const {
  auto local = localTime(instant);
  if (!local) return std::nullopt;
  int weekday = local->tm_wday + 1;
  local->tm_mday -= (weekday - firstWeekday_ + 7) % 7;
  local->tm_hour = local->tm_min = local->tm_sec = 0;
  local->tm_isdst = -1;
  std::time_t start = std::mktime(&*local);
  if (start == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<double>(start);
}

}  // namespace quorin::platform::posix
