#include "cloud/dispatch_timer.hpp"

namespace quorin::cloud {

std::shared_ptr<DispatchTimer> DispatchTimer::make(platform::Dispatch& dispatch,
                                                   platform::Clock::Duration interval,
                                                   Block block) {
  return std::make_shared<DispatchTimer>(Key(), dispatch, interval, std::move(block));
}

DispatchTimer::DispatchTimer(Key, platform::Dispatch& dispatch, platform::Clock::Duration interval,
                             Block block)
    : dispatch_(dispatch), interval_(interval), block_(std::move(block)) {}

DispatchTimer::~DispatchTimer() {
  if (!timer_) return;
  timer_->setEventHandler([] {});
  timer_->cancel();
  // A source is resumed once before it goes, as the platform requires; cancelled, it fires
  // nothing.
  if (state_ == State::suspended) {
    state_ = State::resumed;
    timer_->resume();
  }
}

void DispatchTimer::resume() {
  if (state_ == State::resumed) return;
  state_ = State::resumed;
  timer().resume();
}

platform::TimerSource& DispatchTimer::timer() {
  if (timer_) return *timer_;
  timer_ = dispatch_.mainQueue().makeTimerSource();
  timer_->schedule(dispatch_.clock().now() + interval_);
  timer_->setEventHandler([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self || !self->block_) return;
    // The block may drop the last reference to its own timer.
    Block block = self->block_;
    self.reset();
    block();
  });
  return *timer_;
}

}  // namespace quorin::cloud
