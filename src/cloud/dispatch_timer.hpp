#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch.hpp"

namespace quorin::cloud {

// A one-shot timer on the main queue. The deadline counts from the first resume(); a timer
// that goes away before it fires never runs its block. Made with make(), since the timer
// source's handler holds it weakly.
class DispatchTimer final : public std::enable_shared_from_this<DispatchTimer> {
  // Lets make() use one allocation while nobody else constructs a timer.
  struct Key {
    explicit Key() = default;
  };

 public:
  using Block = std::function<void()>;

  static std::shared_ptr<DispatchTimer> make(platform::Dispatch& dispatch,
                                             platform::Clock::Duration interval, Block block);
  DispatchTimer(Key, platform::Dispatch& dispatch, platform::Clock::Duration interval, Block block);
  ~DispatchTimer();

  DispatchTimer(const DispatchTimer&) = delete;
  DispatchTimer& operator=(const DispatchTimer&) = delete;

  // Starts the countdown; later calls do nothing.
  void resume();

 private:
  enum class State { suspended, resumed };

  platform::TimerSource& timer();

  platform::Dispatch& dispatch_;
  platform::Clock::Duration interval_;
  Block block_;
  State state_ = State::suspended;
  std::unique_ptr<platform::TimerSource> timer_;
};

}  // namespace quorin::cloud
