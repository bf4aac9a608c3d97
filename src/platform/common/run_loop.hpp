#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/dispatch.hpp"
#include "platform/common/event_signal.hpp"

namespace quorin::platform::common {

// The main queue: tasks and timers run on whichever thread drives the loop through run(),
// runUntil() or drainPending(). Submitting work is safe from any thread.
class RunLoop final : public SerialQueue {
 public:
  explicit RunLoop(Clock& clock);
  ~RunLoop() override;

  void async(Task task) override;
  std::unique_ptr<TimerSource> makeTimerSource() override;

  // Runs tasks and timers until stop() is called.
  void run();
  // Runs tasks and timers until the clock reaches `deadline` or stop() is called. Returns
  // false when it returned because of stop().
  bool runUntil(Clock::TimePoint deadline);
  // Runs tasks and due timers until none is ready, including those that they submit, and
  // returns how many ran. Never waits and never moves the clock.
  std::size_t drainPending();
  // Makes the innermost run() or runUntil() in progress return; safe from any thread and from
  // tasks. As on the platform, a stop while no run is in progress does nothing: it is not
  // kept for the next run.
  void stop();

  // For a host's own event loop: a descriptor that polls readable while a task is queued, or
  // after a timer was armed (the time to wait may have shortened), until the loop next finds
  // nothing ready. Made on first use; throws std::system_error when it cannot be.
  int readyDescriptor();
  // How long until a task or timer is ready: zero when one is, none when nothing is queued
  // or armed.
  std::optional<Clock::Duration> timeUntilReady();
  Clock& clock() const { return clock_; }

  // Tasks queued and timers armed; a loop shut down clean has neither.
  std::size_t pendingCount() const;

 private:
  struct TimerState;
  class Timer;
  struct Armed {
    Clock::TimePoint deadline;
    std::uint64_t sequence;
    std::shared_ptr<TimerState> timer;
    std::uint64_t generation;
    bool operator>(const Armed& other) const {
      return deadline != other.deadline ? deadline > other.deadline : sequence > other.sequence;
    }
  };

  void arm(const std::shared_ptr<TimerState>& timer);
  // Leaves the timer's heap entry, if it has one, behind as stale.
  void disarm(TimerState& timer);
  // Takes the next runnable task or due timer handler, if any; with none, clears the ready
  // signal.
  bool takeReady(Task& task);
  bool waitAndRun(std::unique_lock<std::mutex>& lock, Clock::TimePoint deadline);
  Clock::TimePoint nextDeadline() const;
  void dropDeadTimers();
  void popTimer();
  static bool isLive(const Armed& entry);

  Clock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable wakeup_;
  std::deque<Task> tasks_;
  // A min-heap on deadline. Entries of cancelled or re-scheduled timers stay until they reach
  // the top or until they are the majority, when the heap is rebuilt without them.
  std::vector<Armed> timers_;
  std::size_t stale_ = 0;
  std::uint64_t sequence_ = 0;
  // Runs in progress, nested ones included; a stop is heard only while there is one.
  std::size_t runs_ = 0;
  bool stopRequested_ = false;
  std::optional<EventSignal> readySignal_;
};

// The real monotonic clock.
class SteadyClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  void waitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) override {
    if (deadline == TimePoint::max()) {
      wakeup.wait(lock);
    } else {
      wakeup.wait_until(lock, deadline);
    }
  }
};

}  // namespace quorin::platform::common
