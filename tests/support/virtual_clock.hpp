#pragma once

#include <atomic>

#include "platform/dispatch.hpp"

namespace quorin::testing {

// Time that moves only when a test says so, or when a run loop waits for a deadline.
class VirtualClock final : public platform::Clock {
 public:
  TimePoint now() const override { return TimePoint(Duration(nanoseconds_.load())); }
  void advance(Duration by) { nanoseconds_ += by.count(); }

  void waitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) override {
    if (deadline == TimePoint::max()) {
      wakeup.wait(lock);
      return;
    }
    auto target = deadline.time_since_epoch().count();
    auto current = nanoseconds_.load();
    while (current < target && !nanoseconds_.compare_exchange_weak(current, target)) {
    }
  }

 private:
  std::atomic<Duration::rep> nanoseconds_{0};
};

}  // namespace quorin::testing
