#include "platform/common/run_loop.hpp"

#include <algorithm>

namespace quorin::platform::common {

// Guarded by the loop's mutex. `generation` tells a live heap entry from one left behind by a
// cancel or a re-schedule.
struct RunLoop::TimerState {
  Task handler;
  Clock::TimePoint deadline = Clock::TimePoint::max();
  std::uint64_t generation = 0;
  bool scheduled = false;
  bool resumed = false;
  bool done = false;
  bool armed = false;  // has a live entry in the heap
};

class RunLoop::Timer final : public TimerSource {
 public:
  explicit Timer(RunLoop& loop) : loop_(loop), state_(std::make_shared<TimerState>()) {}
  ~Timer() override { cancel(); }

  void schedule(Clock::TimePoint deadline) override {
    std::lock_guard lock(loop_.mutex_);
    state_->deadline = deadline;
    state_->scheduled = true;
    loop_.arm(state_);
  }
  // The handler replaced goes after the lock, as in cancel(): what it owns may take the lock.
  void setEventHandler(Task handler) override {
    std::lock_guard lock(loop_.mutex_);
    std::swap(state_->handler, handler);
  }
  void resume() override {
    std::lock_guard lock(loop_.mutex_);
    state_->resumed = true;
    loop_.arm(state_);
  }
  void cancel() override {
    Task released;
    {
      std::lock_guard lock(loop_.mutex_);
      loop_.disarm(*state_);
      state_->done = true;
      released = std::move(state_->handler);
    }
    // The handler may own objects whose teardown takes the loop's lock.
  }

 private:
  RunLoop& loop_;
  std::shared_ptr<TimerState> state_;
};

RunLoop::RunLoop(Clock& clock) : clock_(clock) {}

RunLoop::~RunLoop() = default;

void RunLoop::async(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    // The signal is cleared only when no task is queued, so only the first one raises it.
    if (readySignal_ && tasks_.size() == 1) readySignal_->raise();
  }
  wakeup_.notify_all();
}

std::unique_ptr<TimerSource> RunLoop::makeTimerSource() {
  return std::make_unique<Timer>(*this);
}

bool RunLoop::isLive(const Armed& entry) {
  return !entry.timer->done && entry.generation == entry.timer->generation;
}

void RunLoop::arm(const std::shared_ptr<TimerState>& timer) {
  if (!timer->resumed || !timer->scheduled || timer->done) return;
  disarm(*timer);
  timers_.push_back(Armed{timer->deadline, sequence_++, timer, timer->generation});
  std::push_heap(timers_.begin(), timers_.end(), std::greater<>());
  timer->armed = true;
  if (readySignal_) readySignal_->raise();
  wakeup_.notify_all();
}

void RunLoop::disarm(TimerState& timer) {
  ++timer.generation;
  if (!timer.armed) return;
  timer.armed = false;
  if (++stale_ < 64 || stale_ * 2 < timers_.size()) return;
  std::erase_if(timers_, [](const Armed& entry) { return !isLive(entry); });
  std::make_heap(timers_.begin(), timers_.end(), std::greater<>());
  stale_ = 0;
}

void RunLoop::popTimer() {
  std::pop_heap(timers_.begin(), timers_.end(), std::greater<>());
  timers_.pop_back();
}

void RunLoop::dropDeadTimers() {
  while (!timers_.empty() && !isLive(timers_.front())) {
    popTimer();
    --stale_;
  }
}

Clock::TimePoint RunLoop::nextDeadline() const {
  return timers_.empty() ? Clock::TimePoint::max() : timers_.front().deadline;
}

bool RunLoop::takeReady(Task& task) {
  if (!tasks_.empty()) {
    task = std::move(tasks_.front());
    tasks_.pop_front();
    return true;
  }
  dropDeadTimers();
  if (timers_.empty() || timers_.front().deadline > clock_.now()) {
    if (readySignal_) readySignal_->clear();
    return false;
  }
  auto timer = timers_.front().timer;
  popTimer();
  timer->done = true;
  timer->armed = false;
  // A copy: a fired source keeps its handler until it is cancelled or goes away.
  task = timer->handler ? timer->handler : Task([] {});
  return true;
}

std::size_t RunLoop::drainPending() {
  std::unique_lock lock(mutex_);
  std::size_t ran = 0;
  Task task;
  while (takeReady(task)) {
    lock.unlock();
    task();
    task = nullptr;
    ++ran;
    lock.lock();
  }
  return ran;
}

bool RunLoop::runUntil(Clock::TimePoint deadline) {
  std::unique_lock lock(mutex_);
  ++runs_;
  bool reached = waitAndRun(lock, deadline);
  --runs_;
  stopRequested_ = false;
  return reached;
}

bool RunLoop::waitAndRun(std::unique_lock<std::mutex>& lock, Clock::TimePoint deadline) {
  Task task;
  while (!stopRequested_) {
    if (takeReady(task)) {
      lock.unlock();
      task();
      task = nullptr;
      lock.lock();
      continue;
    }
    if (clock_.now() >= deadline) return true;
    clock_.waitUntil(wakeup_, lock, std::min(deadline, nextDeadline()));
  }
  return false;
}

void RunLoop::run() {
  runUntil(Clock::TimePoint::max());
}

void RunLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    if (runs_ == 0) return;
    stopRequested_ = true;
  }
  wakeup_.notify_all();
}

int RunLoop::readyDescriptor() {
  std::lock_guard lock(mutex_);
  if (!readySignal_) {
    readySignal_.emplace();
    if (!tasks_.empty() || !timers_.empty()) readySignal_->raise();
  }
  return readySignal_->descriptor();
}

std::optional<Clock::Duration> RunLoop::timeUntilReady() {
  std::lock_guard lock(mutex_);
  if (!tasks_.empty()) return Clock::Duration::zero();
  dropDeadTimers();
  if (timers_.empty()) return std::nullopt;
  return std::max(timers_.front().deadline - clock_.now(), Clock::Duration::zero());
}

std::size_t RunLoop::pendingCount() const {
  std::lock_guard lock(mutex_);
  return tasks_.size() + timers_.size() - stale_;
}

}  // namespace quorin::platform::common
