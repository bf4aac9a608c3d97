#pragma once

#include <memory>

#include "platform/common/concurrent_queue.hpp"
#include "platform/common/run_loop.hpp"
#include "platform/dispatch.hpp"

namespace quorin::platform::common {

// Dispatch on a host-driven main run loop, counting time on `clock`.
class LoopDispatch final : public Dispatch {
 public:
  // On a main loop of its own.
  explicit LoopDispatch(Clock& clock) : LoopDispatch(clock, std::make_shared<RunLoop>(clock)) {}
  // On `mainLoop`, which other dispatches may share, as devices of one process share its main
  // thread.
  LoopDispatch(Clock& clock, std::shared_ptr<RunLoop> mainLoop)
      : clock_(clock), mainLoop_(std::move(mainLoop)) {}

  SerialQueue& mainQueue() override { return *mainLoop_; }
  // Labels and qualities of service name and rank threads; the worker pool has neither.
  std::unique_ptr<ConcurrentQueue> makeConcurrentQueue(std::string, QualityOfService) override {
    return std::make_unique<BarrierQueue>();
  }
  Clock& clock() override { return clock_; }

  RunLoop& mainLoop() { return *mainLoop_; }

 private:
  Clock& clock_;
  std::shared_ptr<RunLoop> mainLoop_;
};

}  // namespace quorin::platform::common
