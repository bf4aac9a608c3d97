#pragma once

#include "platform/common/concurrent_queue.hpp"
#include "platform/common/run_loop.hpp"
#include "platform/dispatch.hpp"

namespace quorin::platform::posix {

// Dispatch on a host-driven main run loop, counting time on `clock`.
class LoopDispatch final : public Dispatch {
 public:
  explicit LoopDispatch(Clock& clock) : clock_(clock), mainLoop_(clock) {}

  SerialQueue& mainQueue() override { return mainLoop_; }
  // Labels and qualities of service name and rank threads; the worker pool has neither.
  std::unique_ptr<ConcurrentQueue> makeConcurrentQueue(std::string, QualityOfService) override {
    return std::make_unique<BarrierQueue>();
  }
  Clock& clock() override { return clock_; }

  RunLoop& mainLoop() { return mainLoop_; }

 private:
  Clock& clock_;
  RunLoop mainLoop_;
};

}  // namespace quorin::platform::posix
