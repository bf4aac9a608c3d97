#pragma once

#include <cstdint>
#include <optional>

namespace quorin::platform {

// The device's wall clock, time zone and calendar. Instants are seconds since 1970. Safe to
// use from any thread.
class Calendar {
 public:
  virtual ~Calendar() = default;
  virtual double now() const = 0;
  // How far local time is ahead of GMT at `instant`, in seconds.
  virtual std::int64_t secondsFromGMT(double instant) const = 0;
  // The day weeks begin on: 1 for Sunday, 2 for Monday, and so on to 7.
  virtual int firstWeekday() const = 0;
  // Local midnight of the first day of the week that holds `instant`; none when the
  // calendar cannot find it.
  virtual std::optional<double> startOfWeek(double instant) const = 0;
};

}  // namespace quorin::platform
