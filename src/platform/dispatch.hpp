#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace quorin::platform {

using Task = std::function<void()>;

// The monotonic time that timers count in.
class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::nanoseconds;

  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
  // Blocks on `wakeup` (with `lock` held on entry and exit) until `deadline` or a notify.
  // A virtual clock does not wait for a finite deadline: it moves itself there instead.
  virtual void waitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                         TimePoint deadline) = 0;
};

// A one-shot timer source whose handler runs on the queue that made it. It starts
// suspended; it fires once, after resume(), when the scheduled deadline has passed.
// Destroying the source cancels it. A source must not outlive its queue.
class TimerSource {
 public:
  virtual ~TimerSource() = default;
  virtual void schedule(Clock::TimePoint deadline) = 0;
  virtual void setEventHandler(Task handler) = 0;
  virtual void resume() = 0;
  // After cancel() the handler never runs again.
  virtual void cancel() = 0;
};

// A serial queue: the main queue, run by the thread that drives the main run loop.
class SerialQueue {
 public:
  virtual ~SerialQueue() = default;
  // Safe from any thread; tasks run in the order they were submitted.
  virtual void async(Task task) = 0;
  virtual std::unique_ptr<TimerSource> makeTimerSource() = 0;
};

// A concurrent queue with barriers. sync() runs its task on the calling thread, in parallel
// with other sync tasks, but only after every barrier submitted before it has finished. A
// barrier runs alone, after every task submitted before it and before every later one.
class ConcurrentQueue {
 public:
  virtual ~ConcurrentQueue() = default;
  virtual void asyncBarrier(Task task) = 0;
  virtual void sync(const std::function<void()>& task) = 0;
};

enum class QualityOfService { userInteractive, userInitiated, normal, utility, background };

class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual SerialQueue& mainQueue() = 0;
  virtual std::unique_ptr<ConcurrentQueue> makeConcurrentQueue(std::string label,
                                                               QualityOfService qos) = 0;
  virtual Clock& clock() = 0;
};

}  // namespace quorin::platform
