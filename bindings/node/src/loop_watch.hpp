#pragma once

// Drives the process's main loop from libuv: a poll on qrn_main_loop_fd() and a timer for
// qrn_main_loop_timeout_ms(), no interval. Both keep the process alive only while something
// awaited (hold()) is pending. JavaScript thread only.

#include <functional>

#include <uv.h>

namespace quorin_node {

class LoopWatch {
 public:
  // `afterDrain` runs after every drain, to hand what it produced to JavaScript.
  LoopWatch(uv_loop_t* loop, std::function<void()> afterDrain);
  ~LoopWatch();
  LoopWatch(const LoopWatch&) = delete;
  LoopWatch& operator=(const LoopWatch&) = delete;

  bool started() const { return poll_ != nullptr; }
  void hold();
  void release();
  // Holds until the next drain: what was posted to the main loop runs there.
  void holdUntilDrain();
  int held() const { return holds_; }
  // Asks for the main loop's next deadline again: a call may have armed a timer.
  void rearm();
  void close();

 private:
  static void onReadable(uv_poll_t* handle, int status, int events);
  static void onTimer(uv_timer_t* handle);
  void drain();
  void applyHolds();

  std::function<void()> afterDrain_;
  uv_poll_t* poll_ = nullptr;
  uv_timer_t* timer_ = nullptr;
  int holds_ = 0;
  int drainHolds_ = 0;
};

}  // namespace quorin_node
