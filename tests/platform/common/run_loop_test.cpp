#include "platform/common/run_loop.hpp"

#include <gtest/gtest.h>
#include <poll.h>

#include <optional>
#include <thread>
#include <vector>

#include "support/virtual_clock.hpp"

namespace quorin::platform::posix {
namespace {

using namespace std::chrono_literals;
using testing::VirtualClock;

class RunLoopTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(loop.pendingCount(), 0u) << "loop not shut down clean"; }

  std::unique_ptr<TimerSource> timerIn(Clock::Duration delay, std::vector<int>& log, int mark) {
    auto timer = loop.makeTimerSource();
    timer->schedule(clock.now() + delay);
    timer->setEventHandler([&log, mark] { log.push_back(mark); });
    return timer;
  }

  static bool readable(int fd) {
    pollfd watch{fd, POLLIN, 0};
    return ::poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN);
  }

  VirtualClock clock;
  common::RunLoop loop{clock};
};

using Wait = std::optional<Clock::Duration>;

TEST_F(RunLoopTest, TasksRunInSubmissionOrderIncludingThoseSubmittedFromOtherThreads) {
  std::vector<int> order;
  loop.async([&] { order.push_back(1); });
  std::thread([&] { loop.async([&] { order.push_back(2); }); }).join();
  loop.async([&] {
    order.push_back(3);
    loop.async([&] { order.push_back(4); });
  });
  EXPECT_EQ(loop.drainPending(), 4u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(RunLoopTest, TimerFiresOnceAtItsDeadlineAndNotBefore) {
  std::vector<int> fired;
  auto timer = timerIn(30s, fired, 1);
  timer->resume();
  clock.advance(30s - 1ns);
  loop.drainPending();
  EXPECT_TRUE(fired.empty());
  clock.advance(1ns);
  loop.drainPending();
  clock.advance(30s);
  loop.drainPending();
  EXPECT_EQ(fired, std::vector<int>{1});
}

TEST_F(RunLoopTest, SuspendedCancelledAndDestroyedTimersNeverFire) {
  std::vector<int> fired;
  auto suspended = timerIn(1s, fired, 1);
  auto cancelled = timerIn(1s, fired, 2);
  cancelled->resume();
  cancelled->cancel();
  auto destroyed = timerIn(1s, fired, 3);
  destroyed->resume();
  destroyed.reset();
  clock.advance(2s);
  loop.drainPending();
  EXPECT_TRUE(fired.empty());
  suspended.reset();
}

TEST_F(RunLoopTest, TimersFireInDeadlineOrderAndRescheduleMovesTheDeadline) {
  std::vector<int> fired;
  auto late = timerIn(3s, fired, 3);
  auto early = timerIn(1s, fired, 1);
  auto moved = timerIn(10s, fired, 2);
  for (auto* t : {late.get(), early.get(), moved.get()}) t->resume();
  moved->schedule(clock.now() + 2s);
  EXPECT_TRUE(loop.runUntil(clock.now() + 5s));
  EXPECT_EQ(fired, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, HandlerMayDestroyItsOwnTimer) {
  std::unique_ptr<TimerSource> timer = loop.makeTimerSource();
  int calls = 0;
  timer->schedule(clock.now() + 1s);
  timer->setEventHandler([&] {
    ++calls;
    timer.reset();
  });
  timer->resume();
  clock.advance(1s);
  loop.drainPending();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(timer, nullptr);
}

TEST_F(RunLoopTest, StopEndsRunFromATaskOrAnotherThread) {
  loop.async([&] { loop.stop(); });
  loop.run();
  std::thread stopper([&] { loop.async([&] { loop.stop(); }); });
  EXPECT_FALSE(loop.runUntil(Clock::TimePoint::max()));
  stopper.join();
}

TEST_F(RunLoopTest, StopEndsOnlyTheRunInProgressAndIsNotKeptForTheNext) {
  std::vector<int> ran;
  loop.stop();
  loop.async([&] { ran.push_back(1); });
  EXPECT_TRUE(loop.runUntil(clock.now() + 1s)) << "a stop before the run ended it";
  loop.async([&] { loop.stop(); });
  loop.drainPending();
  loop.async([&] {
    loop.async([&] { loop.stop(); });
    EXPECT_FALSE(loop.runUntil(clock.now() + 1s));
    ran.push_back(2);
  });
  EXPECT_TRUE(loop.runUntil(clock.now() + 5s)) << "the inner run's stop ended the outer run";
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST_F(RunLoopTest, ReadyDescriptorPollsReadableWhileTasksWaitAndNotAfterTheyRan) {
  loop.async([] {});
  int fd = loop.readyDescriptor();
  EXPECT_TRUE(readable(fd)) << "a task queued before the descriptor was made";
  EXPECT_EQ(loop.timeUntilReady(), Wait(0s));
  loop.drainPending();
  EXPECT_FALSE(readable(fd));
  EXPECT_EQ(loop.timeUntilReady(), std::nullopt);

  std::thread([&] { loop.async([] {}); }).join();
  EXPECT_TRUE(readable(fd));
  loop.async([&] { loop.async([] {}); });
  EXPECT_EQ(loop.drainPending(), 3u);
  EXPECT_FALSE(readable(fd)) << "nothing is ready, so the host's poll must not wake again";

  loop.async([] {});
  EXPECT_TRUE(loop.runUntil(clock.now() + 1s));
  EXPECT_FALSE(readable(fd));
  EXPECT_EQ(loop.readyDescriptor(), fd);
}

TEST_F(RunLoopTest, ArmingATimerWakesTheHostToAskHowLongToWait) {
  int fd = loop.readyDescriptor();
  std::vector<int> fired;
  auto timer = timerIn(30s, fired, 1);
  timer->resume();
  EXPECT_TRUE(readable(fd));
  loop.drainPending();
  EXPECT_FALSE(readable(fd));
  EXPECT_EQ(loop.timeUntilReady(), Wait(30s));
  clock.advance(30s - 1ms);
  EXPECT_EQ(loop.timeUntilReady(), Wait(1ms));
  clock.advance(1s);
  EXPECT_EQ(loop.timeUntilReady(), Wait(0s));
  loop.drainPending();
  EXPECT_EQ(fired, std::vector<int>{1});
  EXPECT_EQ(loop.timeUntilReady(), std::nullopt);
}

}  // namespace
}  // namespace quorin::platform::posix
