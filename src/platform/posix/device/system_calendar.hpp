#pragma once

#include "platform/calendar.hpp"

namespace quorin::platform::posix {

// The system clock, the time zone of TZ (or /etc/localtime), and the first weekday of the
// LC_TIME locale of the environment.
class SystemCalendar final : public Calendar {
 public:
  SystemCalendar();

  double now() const override;
  std::int64_t secondsFromGMT(double instant) const override;
  int firstWeekday() const override { return firstWeekday_; }
  std::optional<double> startOfWeek(double instant) const override;

 private:
  int firstWeekday_;
};

}  // namespace quorin::platform::posix
