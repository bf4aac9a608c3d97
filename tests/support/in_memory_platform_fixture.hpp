#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "support/in_memory_platform.hpp"

namespace quorin::testing {

// A test on the in-memory platform. The main loop must end clean: a task still queued or a
// timer still armed is work the test never looked at, so a test that starts a wait runs it
// out (advance) or checks it is gone before it ends.
class InMemoryPlatformTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(platform->mainLoop().pendingCount(), 0u) << "the main loop was left with work";
  }

  std::shared_ptr<InMemoryPlatform> platform = std::make_shared<InMemoryPlatform>();
};

}  // namespace quorin::testing
