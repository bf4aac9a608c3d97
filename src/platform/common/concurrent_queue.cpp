#include "platform/common/concurrent_queue.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

#include "platform/common/worker_pool.hpp"

namespace quorin::platform::common {

// Everything submitted waits in one FIFO line. A reader leaves the line when it reaches the
// front and no barrier runs; a barrier leaves it when it reaches the front and no reader or
// barrier runs. One drainer at a time runs the barriers on a worker thread.
struct BarrierQueue::State {
  struct Entry {
    std::uint64_t ticket;
    Task barrier;  // empty for a waiting reader
  };

  bool frontIs(std::uint64_t ticket) const {
    return !line.empty() && line.front().ticket == ticket;
  }
  bool barrierAtFront() const { return !line.empty() && line.front().barrier; }

  void drain() {
    std::unique_lock lock(mutex);
    while (pendingBarriers > 0) {
      changed.wait(lock, [&] { return barrierAtFront() && readers == 0; });
      Task barrier = std::move(line.front().barrier);
      line.pop_front();
      --pendingBarriers;
      barrierRunning = true;
      lock.unlock();
      barrier();
      barrier = nullptr;
      lock.lock();
      barrierRunning = false;
      changed.notify_all();
    }
    draining = false;
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Entry> line;
  std::uint64_t nextTicket = 0;
  std::size_t pendingBarriers = 0;
  int readers = 0;
  bool barrierRunning = false;
  bool draining = false;
};

BarrierQueue::BarrierQueue() : state_(std::make_shared<State>()) {}

// Barriers still in line keep the state alive and run as submitted.
BarrierQueue::~BarrierQueue() = default;

void BarrierQueue::asyncBarrier(Task task) {
  bool startDrainer = false;
  {
    std::lock_guard lock(state_->mutex);
    state_->line.push_back({state_->nextTicket++, std::move(task)});
    ++state_->pendingBarriers;
    startDrainer = !std::exchange(state_->draining, true);
  }
  state_->changed.notify_all();
  if (startDrainer) runOnWorker([state = state_] { state->drain(); });
}

void BarrierQueue::sync(const std::function<void()>& task) {
  State& state = *state_;
  {
    std::unique_lock lock(state.mutex);
    if (!state.line.empty() || state.barrierRunning) {
      std::uint64_t ticket = state.nextTicket++;
      state.line.push_back({ticket, nullptr});
      state.changed.wait(lock, [&] { return state.frontIs(ticket) && !state.barrierRunning; });
      state.line.pop_front();
      state.changed.notify_all();
    }
    ++state.readers;
  }
  task();
  {
    std::lock_guard lock(state.mutex);
    --state.readers;
  }
  state.changed.notify_all();
}

}  // namespace quorin::platform::common
