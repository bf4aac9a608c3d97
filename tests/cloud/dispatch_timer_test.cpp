#include "cloud/dispatch_timer.hpp"

#include <gtest/gtest.h>

#include "support/in_memory_platform_fixture.hpp"

namespace quorin {
namespace {

using namespace std::chrono_literals;

class DispatchTimerTest : public testing::InMemoryPlatformTest {
 protected:
  std::shared_ptr<cloud::DispatchTimer> make() {
    return cloud::DispatchTimer::make(platform->dispatch(), 30s, [this] { ++fired; });
  }

  int fired = 0;
};

TEST_F(DispatchTimerTest, FiresOnceAtTheDeadlineCountedFromTheFirstResume) {
  auto timer = make();
  platform->advance(10s);  // not started yet: this time does not count
  timer->resume();
  timer->resume();
  EXPECT_EQ(platform->mainLoop().pendingCount(), 1u);
  platform->advance(30s - 1ms);
  EXPECT_EQ(fired, 0);
  platform->advance(1ms);
  EXPECT_EQ(fired, 1);
  platform->advance(10min);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(platform->mainLoop().pendingCount(), 0u);
}

TEST_F(DispatchTimerTest, ATimerThatGoesAwayNeverFires) {
  auto started = make();
  started->resume();
  auto neverStarted = make();
  started.reset();
  neverStarted.reset();
  EXPECT_EQ(platform->mainLoop().pendingCount(), 0u);
  platform->advance(1h);
  EXPECT_EQ(fired, 0);
}

TEST_F(DispatchTimerTest, ATimerWithoutBlockFiresWithoutEffect) {
  auto timer = cloud::DispatchTimer::make(platform->dispatch(), 1s, nullptr);
  timer->resume();
  platform->advance(1s);
  EXPECT_EQ(platform->mainLoop().pendingCount(), 0u);
}

TEST_F(DispatchTimerTest, ABlockMayDropItsOwnTimer) {
  std::shared_ptr<cloud::DispatchTimer> timer;
  std::weak_ptr<cloud::DispatchTimer> watched;
  bool finished = false;
  timer = cloud::DispatchTimer::make(platform->dispatch(), 5s, [&] {
    timer.reset();
    // The timer is gone while its block still runs.
    EXPECT_TRUE(watched.expired());
    finished = true;
  });
  watched = timer;
  timer->resume();
  platform->advance(5s);
  EXPECT_TRUE(finished);
  EXPECT_EQ(platform->mainLoop().pendingCount(), 0u);
}

}  // namespace
}  // namespace quorin
