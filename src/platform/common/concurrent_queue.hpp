#pragma once

#include <memory>

#include "platform/dispatch.hpp"

namespace quorin::platform::common {

// A concurrent queue whose barriers run on a process-wide pool of worker threads, so that a
// barrier may drop the last reference to the queue's owner (and the queue) while it runs.
class BarrierQueue final : public ConcurrentQueue {
 public:
  BarrierQueue();
  ~BarrierQueue() override;

  void asyncBarrier(Task task) override;
  void sync(const std::function<void()>& task) override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace quorin::platform::common
