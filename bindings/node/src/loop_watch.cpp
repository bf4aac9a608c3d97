#include "loop_watch.hpp"

#include <utility>

#include <quorin/quorin.h>

namespace quorin_node {

namespace {

// libuv frees nothing itself: a handle is freed once it reports itself closed.
template <typename Handle>
void closeAndFree(Handle* handle) {
  uv_close(reinterpret_cast<uv_handle_t*>(handle),
           [](uv_handle_t* closed) { delete reinterpret_cast<Handle*>(closed); });
}

}  // namespace

LoopWatch::LoopWatch(uv_loop_t* loop, std::function<void()> afterDrain)
    : afterDrain_(std::move(afterDrain)) {
  int fd = qrn_main_loop_fd();
  if (fd < 0) return;
  auto poll = new uv_poll_t;
  if (uv_poll_init(loop, poll, fd) != 0) {
    delete poll;
    return;
  }
  poll_ = poll;
  poll_->data = this;
  timer_ = new uv_timer_t;
  uv_timer_init(loop, timer_);
  timer_->data = this;
  uv_poll_start(poll_, UV_READABLE, onReadable);
  applyHolds();
  rearm();
}

LoopWatch::~LoopWatch() { close(); }

void LoopWatch::hold() {
  if (++holds_ == 1) applyHolds();
}

void LoopWatch::release() {
  if (holds_ > 0 && --holds_ == 0) applyHolds();
}

void LoopWatch::holdUntilDrain() {
  ++drainHolds_;
  hold();
}

void LoopWatch::applyHolds() {
  if (!poll_) return;
  auto apply = holds_ > 0 ? uv_ref : uv_unref;
  apply(reinterpret_cast<uv_handle_t*>(poll_));
  apply(reinterpret_cast<uv_handle_t*>(timer_));
}

void LoopWatch::rearm() {
  if (!timer_) return;
  int timeout = qrn_main_loop_timeout_ms();
  if (timeout < 0) {
    uv_timer_stop(timer_);
  } else {
    uv_timer_start(timer_, onTimer, static_cast<uint64_t>(timeout), 0);
  }
}

void LoopWatch::close() {
  if (!poll_) return;
  uv_poll_stop(poll_);
  uv_timer_stop(timer_);
  closeAndFree(poll_);
  closeAndFree(timer_);
  poll_ = nullptr;
  timer_ = nullptr;
}

void LoopWatch::onReadable(uv_poll_t* handle, int status, int) {
  if (status == 0) static_cast<LoopWatch*>(handle->data)->drain();
}

void LoopWatch::onTimer(uv_timer_t* handle) { static_cast<LoopWatch*>(handle->data)->drain(); }

void LoopWatch::drain() {
  int posted = std::exchange(drainHolds_, 0);  // what this drain runs; later posts wait
  qrn_main_loop_drain();
  if (!poll_) return;
  rearm();
  afterDrain_();
  for (; posted > 0; --posted) release();
}

}  // namespace quorin_node
